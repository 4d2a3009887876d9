#include "core/transfer_bound.h"

void transfer_bound_start(transfer_bound *bound, uint64_t min_bytes_per_second, uint64_t window_ms,
                          uint64_t now_ms)
{
    bound->min_bytes_per_second = min_bytes_per_second;
    bound->window_ms = window_ms ? window_ms : 1;
    bound->window_start_ms = now_ms;
    bound->window_bytes = 0;
}

int transfer_bound_note(transfer_bound *bound, uint64_t bytes, uint64_t now_ms)
{
    if (bound->min_bytes_per_second == 0)
        return 1;
    bound->window_bytes += bytes;
    // A clock that went backwards starts a new window rather than judging a negative span.
    if (now_ms < bound->window_start_ms) {
        bound->window_start_ms = now_ms;
        bound->window_bytes = 0;
        return 1;
    }
    uint64_t elapsed = now_ms - bound->window_start_ms;
    if (elapsed < bound->window_ms)
        return 1;
    // Whole windows only: a transfer is never judged on a moment. Compare in a way that
    // cannot overflow: wanted = rate * elapsed / 1000, bounded by the bytes we can count.
    uint64_t wanted;
    if (bound->min_bytes_per_second > UINT64_MAX / elapsed)
        wanted = UINT64_MAX;
    else
        wanted = bound->min_bytes_per_second * elapsed / 1000;
    if (bound->window_bytes < wanted)
        return 0;
    bound->window_start_ms = now_ms;
    bound->window_bytes = 0;
    return 1;
}
