// The two ways core/sha256.cpp runs SHA-256's compression over whole 64-byte blocks, and the
// choice between them. The tests, the fuzzer and the benchmark name a path to check each.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/sha256.h"

enum sha256_path {
    SHA256_PATH_PORTABLE = 0,  // plain C++, any processor
    SHA256_PATH_X86_SHA = 1,   // the x86 SHA extensions (with SSE4.1)
};

extern const uint32_t SHA256_K[64];  // the round constants

// Both advance h over count blocks of data (big-endian words, as SHA-256 reads them).
void sha256_blocks_portable(uint32_t h[8], const uint8_t *data, size_t count);
void sha256_blocks_x86_sha(uint32_t h[8], const uint8_t *data, size_t count);

// 1 when this processor can run the path (asked once with cpuid; the portable path always).
int sha256_path_available(int path);

// The path sha256_begin takes: the SHA extensions where available.
int sha256_chosen_path();

// sha256_begin on a named path; 0 (and the state not under way) where it is unavailable.
int sha256_begin_path(sha256_state *state, int path);
