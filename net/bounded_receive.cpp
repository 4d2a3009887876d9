#include "net/bounded_receive.h"

#include <windows.h>

#include "net/net_timeouts.h"

void begin_transfer_bound(transfer_bound *bound)
{
    int rate = g_net_timeouts.min_rate_bytes_per_s;
    int window = g_net_timeouts.rate_window_ms;
    transfer_bound_start(bound, rate > 0 ? static_cast<uint64_t>(rate) : 0,
                         window > 0 ? static_cast<uint64_t>(window) : 0, GetTickCount64());
}

int bounded_receive(SOCKET s, char *buffer, int length, transfer_bound *bound)
{
    int got = recv(s, buffer, length, 0);
    if (got > 0 && bound != nullptr &&
        !transfer_bound_note(bound, static_cast<uint64_t>(got), GetTickCount64()))
        return RECEIVE_TOO_SLOW;
    return got;
}
