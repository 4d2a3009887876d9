#include "server/platform_sockets.h"

#include <winsock2.h>
#include <mstcpip.h>

// Windows 10 1703 and later report a connection's bytes in flight (sent, not acknowledged).
// The program targets Windows 7 headers, so the query's record is spelled out here; older
// systems refuse the query and the caller falls back to the plain pause.
struct tcp_info_v0 {
    int state;
    ULONG mss;
    ULONG64 connection_time_ms;
    BOOLEAN timestamps_enabled;
    ULONG rtt_us;
    ULONG min_rtt_us;
    ULONG bytes_in_flight;
    ULONG cwnd;
    ULONG snd_wnd;
    ULONG rcv_wnd;
    ULONG rcv_buf;
    ULONG64 bytes_out;
    ULONG64 bytes_in;
    ULONG bytes_reordered;
    ULONG bytes_retrans;
    ULONG fast_retrans;
    ULONG dup_acks_in;
    ULONG timeout_episodes;
    UCHAR syn_retrans;
};
static const DWORD QUERY_TCP_INFO = _WSAIORW(IOC_VENDOR, 39);

// There is no count of bytes not yet sent; a small answer leaves within the write that queued
// it, so only the acknowledged case is answered.
int socket_held_bytes(socket_handle socket, bool acknowledged)
{
    if (!acknowledged)
        return 0;
    DWORD version = 0;
    tcp_info_v0 info;
    DWORD returned = 0;
    if (WSAIoctl(static_cast<SOCKET>(socket), QUERY_TCP_INFO, &version, sizeof version, &info,
                 sizeof info, &returned, nullptr, nullptr) != 0 ||
        returned < sizeof info)
        return 0;
    return info.bytes_in_flight > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(info.bytes_in_flight);
}
