// The overall bound of one transfer, beyond the time-out of each receive: a peer that keeps
// sending a byte now and then never trips a per-receive time-out, so the rate is judged too.
// Plain arithmetic on times the caller reads (GetTickCount64 in the client), so it is the
// same for every channel and testable without a clock.
#pragma once
#include <cstdint>

struct transfer_bound {
    uint64_t min_bytes_per_second;  // 0: no rate bound
    uint64_t window_ms;             // the rate is judged over each window of this length
    uint64_t window_start_ms;
    uint64_t window_bytes;
};

// Starts the bound at now_ms. A rate of 0 turns it off; a window of 0 is taken as 1 ms.
void transfer_bound_start(transfer_bound *bound, uint64_t min_bytes_per_second, uint64_t window_ms,
                          uint64_t now_ms);

// Counts bytes that arrived at now_ms. 1 while the transfer keeps its rate; 0 once a whole
// window has passed with fewer than min_bytes_per_second * window bytes: abandon it.
int transfer_bound_note(transfer_bound *bound, uint64_t bytes, uint64_t now_ms);
