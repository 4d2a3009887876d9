// The hash object API rather than the one-call BCryptHash, which older systems lack.
#include "core/sha256.h"

#include <windows.h>
#include <bcrypt.h>

static int succeeded(NTSTATUS status)
{
    return status >= 0;
}

int sha256_begin(sha256_state *state)
{
    if (!state)
        return 0;
    state->algorithm = nullptr;
    state->hash = nullptr;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
        return 0;
    }
    state->algorithm = algorithm;
    state->hash = hash;
    return 1;
}

int sha256_update(sha256_state *state, const void *data, size_t length)
{
    if (!state || !state->hash)
        return 0;
    const UCHAR *bytes = static_cast<const UCHAR *>(data);
    // The call takes 32-bit lengths.
    while (length > 0) {
        ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        if (!succeeded(BCryptHashData(state->hash, const_cast<UCHAR *>(bytes), piece, 0)))
            return 0;
        bytes += piece;
        length -= piece;
    }
    return 1;
}

int sha256_finish(sha256_state *state, uint8_t digest[32])
{
    if (!state || !state->hash)
        return 0;
    int ok = succeeded(BCryptFinishHash(state->hash, digest, 32, 0));
    sha256_end(state);
    return ok;
}

void sha256_end(sha256_state *state)
{
    if (!state)
        return;
    if (state->hash)
        BCryptDestroyHash(state->hash);
    if (state->algorithm)
        BCryptCloseAlgorithmProvider(state->algorithm, 0);
    state->hash = nullptr;
    state->algorithm = nullptr;
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
