#include "server/platform_sockets.h"

#include <winsock2.h>
#include <mstcpip.h>

// Windows reports the bytes in flight (sent, not acknowledged) since Windows 10 1703; it has
// no count of bytes not yet sent, and a small answer leaves within the write that queued it.
int socket_held_bytes(socket_handle socket, bool acknowledged)
{
    if (!acknowledged)
        return 0;
    DWORD version = 0;
    TCP_INFO_v0 info;
    DWORD returned = 0;
    if (WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &returned,
                 nullptr, nullptr) != 0 ||
        returned < sizeof info)
        return 0;
    return info.BytesInFlight > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(info.BytesInFlight);
}
