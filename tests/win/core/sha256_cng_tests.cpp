// Our SHA-256 against the system's (CNG), the hash the client used before it had its own:
// the published messages, every length up to several blocks at random cut points, and a long
// message, on each path this processor can run.
#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/sha256.h"
#include "core/sha256_blocks.h"

namespace {

// CNG's digest through the hash object calls; false where the system refuses.
bool cng_sha256(const uint8_t *data, size_t length, uint8_t digest[32])
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok =
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0 &&
        BCryptHashData(hash, const_cast<uint8_t *>(data), static_cast<ULONG>(length), 0) >= 0 &&
        BCryptFinishHash(hash, digest, 32, 0) >= 0;
    if (hash)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
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

TEST(Sha256Cng, PublishedMessagesAgree)
{
    const std::string messages[] = {
        "", "abc", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
        "lmnopqrsmnopqrstnopqrstu",
        std::string(1000000, 'a')};
    for (const std::string &m : messages) {
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(m.data());
        uint8_t expected[32], got[32];
        ASSERT_TRUE(cng_sha256(bytes, m.size(), expected));
        ASSERT_EQ(sha256_of(bytes, m.size(), got), 1);
        EXPECT_EQ(std::memcmp(expected, got, 32), 0) << "length " << m.size();
    }
    // The one everybody knows, so an agreement of two wrong hashes cannot pass.
    uint8_t abc[32];
    ASSERT_EQ(sha256_of("abc", 3, abc), 1);
    EXPECT_EQ(abc[0], 0xba);
    EXPECT_EQ(abc[31], 0xad);
}

TEST(Sha256Cng, EveryLengthAndLongMessageAgree)
{
    std::mt19937 random(949);
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
            ASSERT_TRUE(cng_sha256(data.data() + 1, length, expected));
            ASSERT_TRUE(ours(path, data.data() + 1, length, random, 130, got));
            ASSERT_EQ(std::memcmp(expected, got, 32), 0) << "path " << path << " length " << length;
        }
        ASSERT_TRUE(cng_sha256(data.data(), data.size(), expected));
        ASSERT_TRUE(ours(path, data.data(), data.size(), random, 200000, got));
        EXPECT_EQ(std::memcmp(expected, got, 32), 0) << "path " << path << ", 4 MiB";
    }
    EXPECT_GE(paths_run, 1);
    std::printf("SHA-256 paths checked against CNG: %d (SHA instructions %s)\n", paths_run,
                sha256_path_available(SHA256_PATH_X86_SHA) ? "present" : "absent");
}
