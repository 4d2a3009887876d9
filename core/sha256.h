// SHA-256 through the system's cryptography (CNG), fed piece by piece.
#pragma once
#include <cstddef>
#include <cstdint>

struct sha256_state {
    void *algorithm;  // BCRYPT_ALG_HANDLE
    void *hash;       // BCRYPT_HASH_HANDLE
};

int sha256_begin(sha256_state *state);                                    // 1 on success
int sha256_update(sha256_state *state, const void *data, size_t length);  // 1 on success
// Writes the digest and ends the state. 1 on success; the state is ended either way.
int sha256_finish(sha256_state *state, uint8_t digest[32]);
void sha256_end(sha256_state *state);  // ends a state without a digest; safe to repeat
int sha256_of(const void *data, size_t length, uint8_t digest[32]);  // 1 on success
