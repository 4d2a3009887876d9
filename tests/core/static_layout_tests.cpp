#include <gtest/gtest.h>

#include <string>

#include "core/static_layout.h"

static std::string path_of(const char *name, uint32_t crc, uint64_t size, size_t capacity = 512)
{
    std::string out(capacity, '\0');
    size_t n = static_file_path(name, crc, size, &out[0], capacity);
    return n ? out.substr(0, n) : std::string("(none)");
}

TEST(StaticLayout, PathNamesCrcSizeAndTheEncodedName)
{
    EXPECT_EQ(path_of("Kickoff.xls", 0x00ABCDEFu, 47616), "files/00abcdef-47616/Kickoff.xls");
    // Hangul in UTF-8, a blank, a percent sign and a plus: all escaped, unreserved kept.
    EXPECT_EQ(path_of("\xEA\xB0\x80 a%+~_-.dll", 0xFFFFFFFFu, 0),
              "files/ffffffff-0/%EA%B0%80%20a%25%2B~_-.dll");
    EXPECT_EQ(path_of("big.bin", 1, 18446744073709551615ull),
              "files/00000001-18446744073709551615/big.bin");
}

TEST(StaticLayout, RefusesWhatDoesNotFitOrIsEmpty)
{
    EXPECT_EQ(path_of("", 1, 1), "(none)");
    EXPECT_EQ(path_of(nullptr, 1, 1), "(none)");
    // "files/00000001-1/" is 17 bytes: a one-byte name needs 19 with its NUL, 21 escaped.
    EXPECT_EQ(path_of("a", 1, 1, 19), "files/00000001-1/a");
    EXPECT_EQ(path_of("a", 1, 1, 18), "(none)");
    EXPECT_EQ(path_of(" ", 1, 1, 20), "(none)");
    EXPECT_EQ(path_of(" ", 1, 1, 21), "files/00000001-1/%20");
}
