// Our SHA-256 on every path this processor can run, fed in pieces the input chooses, must give
// OpenSSL's digest of the same bytes. The first byte says how many piece sizes follow (0 to
// 7); the rest is the message, fed in those sizes over and over.
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "core/sha256.h"
#include "core/sha256_blocks.h"

namespace {

// A size code: 0 to 191 bytes as it says, above that whole blocks and a byte.
size_t piece_size(uint8_t code)
{
    return code < 192 ? code : static_cast<size_t>(code - 192) * 64 + 1;
}

void hash_in_pieces(int path, const uint8_t *message, size_t length, const uint8_t *codes,
                    size_t code_count, uint8_t digest[32])
{
    sha256_state state;
    if (!sha256_begin_path(&state, path))
        std::abort();
    size_t done = 0;
    for (size_t i = 0; done < length; ++i) {
        size_t piece = code_count == 0 ? length : piece_size(codes[i % code_count]);
        // A zero: an empty update, then one byte, so the message always gets through.
        if (piece == 0) {
            if (!sha256_update(&state, message + done, 0))
                std::abort();
            piece = 1;
        }
        if (piece > length - done)
            piece = length - done;
        if (!sha256_update(&state, message + done, piece))
            std::abort();
        done += piece;
    }
    if (!sha256_finish(&state, digest))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t code_count = data[0] % 8;
    if (size < 1 + code_count)
        return 0;
    const uint8_t *codes = data + 1;
    const uint8_t *message = data + 1 + code_count;
    size_t length = size - 1 - code_count;

    uint8_t expected[32], got[32];
    unsigned int expected_size = 0;
    if (EVP_Digest(message, length, expected, &expected_size, EVP_sha256(), nullptr) != 1)
        std::abort();
    for (int path : {SHA256_PATH_PORTABLE, SHA256_PATH_X86_SHA}) {
        if (!sha256_path_available(path))
            continue;
        hash_in_pieces(path, message, length, codes, code_count, got);
        if (std::memcmp(expected, got, 32) != 0)
            std::abort();
    }
    if (!sha256_of(message, length, got) || std::memcmp(expected, got, 32) != 0)
        std::abort();
    return 0;
}
