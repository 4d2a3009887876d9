#include "net/net_timeouts.h"

net_timeouts g_net_timeouts = {3000, 400, 10000, 5, 3000, 10000, 8192, 30000};
