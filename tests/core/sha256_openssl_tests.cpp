// Our SHA-256 against OpenSSL's, the hash the server signs with: every length up to several
// blocks fed at random cut points, and a long message, on each path this processor can run.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/sha256.h"
#include "core/sha256_blocks.h"

namespace {

void openssl_sha256(const uint8_t *data, size_t length, uint8_t digest[32])
{
    unsigned int size = 0;
    ASSERT_EQ(EVP_Digest(data, length, digest, &size, EVP_sha256(), nullptr), 1);
    ASSERT_EQ(size, 32u);
}

// Ours on path, fed in pieces of random sizes (at most max_piece bytes).
bool ours(int path, const uint8_t *data, size_t length, std::mt19937 &random, size_t max_piece,
          uint8_t digest[32])
{
    sha256_state state;
    if (!sha256_begin_path(&state, path))
        return false;
    size_t done = 0;
    while (done < length) {
        size_t piece = std::min<size_t>(length - done, random() % (max_piece + 1));
        if (!sha256_update(&state, data + done, piece))
            return false;
        done += piece;
    }
    return sha256_finish(&state, digest) == 1;
}

}  // namespace

TEST(Sha256, AgreesWithOpenSsl)
{
    std::mt19937 random(2026);
    std::vector<uint8_t> data((4 << 20) + 13);
    for (auto &b : data)
        b = static_cast<uint8_t>(random());
    int paths_run = 0;
    for (int path : {SHA256_PATH_PORTABLE, SHA256_PATH_X86_SHA}) {
        if (!sha256_path_available(path))
            continue;
        ++paths_run;
        uint8_t expected[32], got[32];
        for (size_t length = 0; length <= 600; ++length) {
            openssl_sha256(data.data() + 1, length, expected);
            ASSERT_TRUE(ours(path, data.data() + 1, length, random, 130, got));
            ASSERT_EQ(std::memcmp(expected, got, 32), 0) << "path " << path << " length " << length;
        }
        openssl_sha256(data.data(), data.size(), expected);
        ASSERT_TRUE(ours(path, data.data(), data.size(), random, 200000, got));
        EXPECT_EQ(std::memcmp(expected, got, 32), 0) << "path " << path << ", 4 MiB";
        ASSERT_EQ(sha256_of(data.data(), data.size(), got), 1);
        EXPECT_EQ(std::memcmp(expected, got, 32), 0) << "sha256_of, 4 MiB";
    }
    EXPECT_GE(paths_run, 1);
}
