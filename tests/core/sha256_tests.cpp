// SHA-256 on each path this processor can run: the published test messages, every split of
// the lengths where the padding changes shape, and which path is taken.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/sha256.h"
#include "core/sha256_blocks.h"

namespace {

std::string hex(const uint8_t digest[32])
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

std::string hash_on(int path, const void *data, size_t length)
{
    sha256_state state;
    uint8_t digest[32];
    if (!sha256_begin_path(&state, path) || !sha256_update(&state, data, length) ||
        !sha256_finish(&state, digest))
        return "failed";
    return hex(digest);
}

// Fed in pieces at the given cut points (ascending, within length).
std::string hash_in_pieces(int path, const uint8_t *data, size_t length,
                           const std::vector<size_t> &cuts)
{
    sha256_state state;
    uint8_t digest[32];
    if (!sha256_begin_path(&state, path))
        return "failed";
    size_t from = 0;
    for (size_t cut : cuts) {
        if (!sha256_update(&state, data + from, cut - from))
            return "failed";
        from = cut;
    }
    if (!sha256_update(&state, data + from, length - from) || !sha256_finish(&state, digest))
        return "failed";
    return hex(digest);
}

std::vector<uint8_t> random_bytes(size_t length, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(length);
    for (auto &b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

class Sha256Path : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        if (!sha256_path_available(GetParam()))
            GTEST_SKIP() << "this processor has no SHA instructions";
    }
};

}  // namespace

TEST_P(Sha256Path, PublishedMessages)
{
    const int path = GetParam();
    EXPECT_EQ(hash_on(path, "", 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hash_on(path, "abc", 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 448 bits: the padding no longer fits the block, so a second one follows.
    const char m448[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(hash_on(path, m448, 56),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const char m896[] = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
                        "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    EXPECT_EQ(hash_on(path, m896, 112),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    const std::string million(1000000, 'a');
    const std::string million_digest =
        "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    EXPECT_EQ(hash_on(path, million.data(), million.size()), million_digest);
    // The same million in pieces of 1000: the length counter runs across updates.
    sha256_state state;
    ASSERT_EQ(sha256_begin_path(&state, path), 1);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(sha256_update(&state, million.data(), 1000), 1);
    uint8_t digest[32];
    ASSERT_EQ(sha256_finish(&state, digest), 1);
    EXPECT_EQ(hex(digest), million_digest);
}

// Around one and two blocks, where the padding needs one block or two: every single cut, and
// every pair of cuts, gives the digest of the whole.
TEST_P(Sha256Path, EverySplitAroundBlockEdges)
{
    const int path = GetParam();
    const std::vector<uint8_t> data = random_bytes(200, 56);
    for (size_t length : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
        const std::string whole = hash_on(path, data.data(), length);
        ASSERT_NE(whole, "failed");
        for (size_t cut = 0; cut <= length; ++cut)
            ASSERT_EQ(hash_in_pieces(path, data.data(), length, {cut}), whole)
                << "length " << length << " cut at " << cut;
        for (size_t first = 0; first <= length; first += 3)
            for (size_t second = first; second <= length; ++second)
                ASSERT_EQ(hash_in_pieces(path, data.data(), length, {first, second}), whole)
                    << "length " << length << " cuts at " << first << ", " << second;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha256Path,
                         ::testing::Values(SHA256_PATH_PORTABLE, SHA256_PATH_X86_SHA),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return info.param == SHA256_PATH_PORTABLE ? std::string("Portable")
                                                                       : std::string("X86Sha");
                         });

// sha256_begin takes the SHA instructions wherever cpuid reports them (the digests of both
// paths are compared with OpenSSL's and CNG's in their own tests).
TEST(Sha256, BeginTakesTheProcessorsPath)
{
    sha256_state state;
    ASSERT_EQ(sha256_begin(&state), 1);
    if (sha256_path_available(SHA256_PATH_X86_SHA))
        EXPECT_TRUE(state.blocks == sha256_blocks_x86_sha) << "the SHA instructions are not taken";
    else
        EXPECT_TRUE(state.blocks == sha256_blocks_portable);
    sha256_end(&state);
}

#ifdef __linux__
// cpuid's answer agrees with the kernel's flags (where the processor reports them).
TEST(Sha256, ProcessorCheckAgreesWithTheKernel)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, flags;
    while (std::getline(cpuinfo, line))
        if (line.compare(0, 5, "flags") == 0) {
            flags = line + " ";
            break;
        }
    if (flags.empty())
        GTEST_SKIP() << "no flags line in /proc/cpuinfo";
    const bool kernel_says = flags.find(" sha_ni ") != std::string::npos;
    EXPECT_EQ(sha256_path_available(SHA256_PATH_X86_SHA) != 0, kernel_says);
    EXPECT_EQ(sha256_chosen_path(), kernel_says ? SHA256_PATH_X86_SHA : SHA256_PATH_PORTABLE);
}
#endif

// A state is used once: after its digest, or after sha256_end, it takes nothing more; ending
// twice is harmless; a path that does not exist is refused.
TEST(Sha256, StateLifetime)
{
    sha256_state state;
    uint8_t digest[32], again[32];
    ASSERT_EQ(sha256_begin(&state), 1);
    ASSERT_EQ(sha256_update(&state, "ab", 2), 1);
    ASSERT_EQ(sha256_update(&state, nullptr, 0), 1);
    ASSERT_EQ(sha256_update(&state, "c", 1), 1);
    ASSERT_EQ(sha256_finish(&state, digest), 1);
    EXPECT_EQ(hex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_update(&state, "x", 1), 0);
    EXPECT_EQ(sha256_finish(&state, again), 0);

    ASSERT_EQ(sha256_begin(&state), 1);
    EXPECT_EQ(sha256_update(&state, nullptr, 5), 0);
    sha256_end(&state);
    sha256_end(&state);
    EXPECT_EQ(sha256_update(&state, "x", 1), 0);

    EXPECT_EQ(sha256_begin_path(&state, 7), 0);
    EXPECT_EQ(sha256_update(&state, "x", 1), 0);

    ASSERT_EQ(sha256_of("abc", 3, again), 1);
    EXPECT_EQ(std::memcmp(digest, again, 32), 0);
}
