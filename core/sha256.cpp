// SHA-256's framing: bytes gather into 64-byte blocks for the chosen block function, and the
// end appends 0x80, zeros and the length in bits. Whole blocks of the caller's buffer go to
// the block function straight from it; only a block split between calls is copied.
#include "core/sha256.h"

#include <cstring>

#include "core/sha256_blocks.h"

namespace {

const uint32_t INITIAL_H[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                               0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};

void store_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

int sha256_begin_path(sha256_state *state, int path)
{
    if (!state)
        return 0;
    state->blocks = nullptr;
    if (!sha256_path_available(path))
        return 0;
    std::memcpy(state->h, INITIAL_H, sizeof state->h);
    state->total = 0;
    state->pending_bytes = 0;
    state->blocks = path == SHA256_PATH_X86_SHA ? sha256_blocks_x86_sha : sha256_blocks_portable;
    return 1;
}

int sha256_begin(sha256_state *state)
{
    return sha256_begin_path(state, sha256_chosen_path());
}

int sha256_update(sha256_state *state, const void *data, size_t length)
{
    if (!state || !state->blocks || (!data && length > 0))
        return 0;
    if (length == 0)
        return 1;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    state->total += length;
    if (state->pending_bytes > 0) {
        size_t room = sizeof state->pending - state->pending_bytes;
        size_t take = length < room ? length : room;
        std::memcpy(state->pending + state->pending_bytes, p, take);
        state->pending_bytes += static_cast<uint32_t>(take);
        p += take;
        length -= take;
        if (state->pending_bytes < sizeof state->pending)
            return 1;
        state->blocks(state->h, state->pending, 1);
        state->pending_bytes = 0;
    }
    size_t whole = length / 64;
    if (whole > 0) {
        state->blocks(state->h, p, whole);
        p += whole * 64;
        length -= whole * 64;
    }
    if (length > 0) {
        std::memcpy(state->pending, p, length);
        state->pending_bytes = static_cast<uint32_t>(length);
    }
    return 1;
}

int sha256_finish(sha256_state *state, uint8_t digest[32])
{
    if (!state || !state->blocks || !digest) {
        sha256_end(state);
        return 0;
    }
    uint64_t bits = state->total * 8;
    uint8_t tail[128] = {};
    uint32_t used = state->pending_bytes;
    std::memcpy(tail, state->pending, used);
    tail[used] = 0x80;
    // The length takes the last 8 bytes of a block: a second block when fewer than 9 remain.
    size_t tail_blocks = used + 9 <= 64 ? 1 : 2;
    uint8_t *length_at = tail + tail_blocks * 64 - 8;
    store_be32(length_at, static_cast<uint32_t>(bits >> 32));
    store_be32(length_at + 4, static_cast<uint32_t>(bits));
    state->blocks(state->h, tail, tail_blocks);
    for (int i = 0; i < 8; ++i)
        store_be32(digest + 4 * i, state->h[i]);
    sha256_end(state);
    return 1;
}

void sha256_end(sha256_state *state)
{
    if (!state)
        return;
    // Nothing of the message stays behind in a state that is no longer used.
    std::memset(state, 0, sizeof *state);
}

int sha256_of(const void *data, size_t length, uint8_t digest[32])
{
    sha256_state state;
    if (!sha256_begin(&state))
        return 0;
    if (!sha256_update(&state, data, length)) {
        sha256_end(&state);
        return 0;
    }
    return sha256_finish(&state, digest);
}
