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

int note_received(transfer_bound *bound, int bytes)
{
    if (bound == nullptr || bytes <= 0)
        return 1;
    return transfer_bound_note(bound, static_cast<uint64_t>(bytes), GetTickCount64());
}

int bounded_receive(SOCKET s, char *buffer, int length, transfer_bound *bound)
{
    int got = recv(s, buffer, length, 0);
    return got > 0 && !note_received(bound, got) ? RECEIVE_TOO_SLOW : got;
}
