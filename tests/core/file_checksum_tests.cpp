#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/file_checksum.h"
#include "temp_dir.h"

TEST(Crc32, StandardValues)
{
    EXPECT_EQ(crc32_update(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32_bytewise(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, "", 0), 0u);
    EXPECT_EQ(crc32_update(0, nullptr, 5), 0u);
    // Continuing in pieces gives the same value as one pass.
    EXPECT_EQ(crc32_update(crc32_update(0, "12345", 5), "6789", 4), 0xCBF43926u);
    std::vector<uint8_t> zeros(4096, 0);
    EXPECT_EQ(crc32_update(0, zeros.data(), zeros.size()), 0xC71C0011u);
}

// The fast paths must agree with the one-byte table on every length and alignment, including
// the block boundaries of the wide path (16 and 64 bytes).
TEST(Crc32, FastPathMatchesBytewise)
{
    std::mt19937 random(12345);
    std::vector<uint8_t> data(70000);
    for (auto &b : data)
        b = static_cast<uint8_t>(random());

    for (size_t length = 0; length <= 300; ++length)
        for (size_t offset = 0; offset < 16; offset += 5)
            ASSERT_EQ(crc32_update(0x1234u, data.data() + offset, length),
                      crc32_bytewise(0x1234u, data.data() + offset, length))
                << "length " << length << " offset " << offset;

    for (int trial = 0; trial < 200; ++trial) {
        size_t offset = random() % 64;
        size_t length = random() % (data.size() - offset);
        uint32_t start = static_cast<uint32_t>(random());
        ASSERT_EQ(crc32_update(start, data.data() + offset, length),
                  crc32_bytewise(start, data.data() + offset, length))
            << "length " << length << " offset " << offset;
    }
}

TEST(FileCrc32, ValuesAndStreaming)
{
    temp_dir dir = make_temp_dir();
    ASSERT_FALSE(dir.path.empty());

    uint32_t crc = 1;
    ASSERT_EQ(file_crc32(write_temp_file(dir, "empty.bin", "").c_str(), &crc), 0);
    EXPECT_EQ(crc, 0u);

    ASSERT_EQ(file_crc32(write_temp_file(dir, "check.txt", "123456789").c_str(), &crc), 0);
    EXPECT_EQ(crc, 3421780262u);

    // Larger than the read buffer and not a multiple of it.
    std::string big(3 * 65536 + 777, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 131) ^ (i >> 7));
    ASSERT_EQ(file_crc32(write_temp_file(dir, "big.bin", big).c_str(), &crc), 0);
    EXPECT_EQ(crc, crc32_bytewise(0, big.data(), big.size()));

    uint32_t untouched = 0xDEADBEEF;
    EXPECT_EQ(file_crc32((dir.path + "/missing.bin").c_str(), &untouched), -1);
    EXPECT_EQ(untouched, 0xDEADBEEFu);
    EXPECT_EQ(file_crc32(nullptr, &untouched), -1);

    remove_temp_dir(dir);
}
