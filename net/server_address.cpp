#include "net/server_address.h"

const char DEFAULT_SERVER_HOST[] = "update.tervalenwyndale.co.kr";

server_address g_server_address = {{0}, 0};
