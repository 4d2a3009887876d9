#include "server/platform_sockets.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

int socket_held_bytes(socket_handle socket, bool acknowledged)
{
    int count = 0;
    if (ioctl(socket, acknowledged ? SIOCOUTQ : SIOCOUTQNSD, &count) != 0)
        return 0;
    return count;
}
