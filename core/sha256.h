// SHA-256, fed piece by piece or in one call. Our own code, so the client hashes as fast on
// Windows as the processor allows: the x86 SHA instructions where present, else plain C++.
#pragma once
#include <cstddef>
#include <cstdint>

struct sha256_state {
    uint32_t h[8];
    uint64_t total;          // bytes fed so far
    uint8_t pending[64];     // the start of an unfinished block
    uint32_t pending_bytes;  // how much of it is filled
    // The block function chosen at the begin; null when the state is not under way.
    void (*blocks)(uint32_t h[8], const uint8_t *data, size_t count);
};

int sha256_begin(sha256_state *state);                                    // 1 on success
int sha256_update(sha256_state *state, const void *data, size_t length);  // 1 on success
// Writes the digest and ends the state. 1 on success; the state is ended either way.
int sha256_finish(sha256_state *state, uint8_t digest[32]);
void sha256_end(sha256_state *state);  // ends a state without a digest; safe to repeat
int sha256_of(const void *data, size_t length, uint8_t digest[32]);  // 1 on success
