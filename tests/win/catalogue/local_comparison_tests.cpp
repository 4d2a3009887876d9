// The local comparison: New, Changed or Match for one catalogue entry.
#include <gtest/gtest.h>
#include <string>
#include "catalogue/catalogue.h"
#include "catalogue/local_comparison.h"
#include "test_support.h"
#include "res/texts.h"

namespace {

struct Comparison : testing::Test {
    void SetUp() override { reset_install_folder(); }
    void TearDown() override { reset_install_folder(); }

    // Status and current size of name against the catalogue's crc and size texts.
    std::pair<std::string, std::string> compare(const char *name, const std::string &crc,
                                                const std::string &size)
    {
        char current[16] = "junk", status[7] = "junk";
        compare_local_file(name, crc.c_str(), size.c_str(), current, status);
        return {status, current};
    }
    void put(const char *name, const std::string &bytes)
    {
        ASSERT_TRUE(write_whole_file((std::string(LIBRARY_FOLDER) + name).c_str(), bytes));
    }
};

TEST_F(Comparison, AbsentFileIsNewWithAnEmptySize)
{
    auto r = compare("Stickrow64.dll", "1", "10");
    EXPECT_EQ(r.first, TEXT_STATUS_NEW);
    EXPECT_EQ(r.second, "");
}

TEST_F(Comparison, SizeAndChecksumDecide)
{
    std::string bytes = make_bytes(5000, 1);
    std::string crc = std::to_string(crc_of(bytes));
    put("Stickrow64.dll", bytes);

    auto r = compare("Stickrow64.dll", crc, "5000");
    EXPECT_EQ(r.first, TEXT_STATUS_MATCH);
    EXPECT_EQ(r.second, "5000");
    EXPECT_EQ(compare("Stickrow64.dll", crc, "4999").first, TEXT_STATUS_CHANGED);
    EXPECT_EQ(compare("Stickrow64.dll", "12345", "5000").first, TEXT_STATUS_CHANGED);
    // Leading numbers count; trailing junk is ignored; an oversized CRC saturates.
    EXPECT_EQ(compare("Stickrow64.dll", crc + "xyz", "5000abc").first, TEXT_STATUS_MATCH);
    EXPECT_EQ(compare("Stickrow64.dll", "99999999999999", "5000").first, TEXT_STATUS_CHANGED);
}

TEST_F(Comparison, ExcelFilesOfTheRightSizeMatchWhateverTheirContentLowerCaseOnly)
{
    std::string bytes = make_bytes(300, 2);
    put("PlimoExcel.xla", bytes);
    put("Kickoff.xls", bytes);
    put("Upper.XLA", bytes);
    put("Other.dll", bytes);
    put("NoDotxls", bytes);
    EXPECT_EQ(compare("PlimoExcel.xla", "1", "300").first, TEXT_STATUS_MATCH);
    EXPECT_EQ(compare("Kickoff.xls", "1", "300").first, TEXT_STATUS_MATCH);
    EXPECT_EQ(compare("Upper.XLA", "1", "300").first, TEXT_STATUS_CHANGED);
    EXPECT_EQ(compare("NoDotxls", "1", "300").first, TEXT_STATUS_MATCH);  // the letters alone
    EXPECT_EQ(compare("Other.dll", "1", "300").first, TEXT_STATUS_CHANGED);
    EXPECT_EQ(compare("PlimoExcel.xla", "1", "301").first, TEXT_STATUS_CHANGED);
}

TEST_F(Comparison, NonNumericChecksumReadsAsZero)
{
    put("empty.dll", "");  // the CRC-32 of nothing is 0
    put("data.dll", "abc");
    EXPECT_EQ(compare("empty.dll", "", "0").first, TEXT_STATUS_MATCH);
    EXPECT_EQ(compare("empty.dll", "none", "0").first, TEXT_STATUS_MATCH);
    EXPECT_EQ(compare("data.dll", "none", "3").first, TEXT_STATUS_CHANGED);
}

TEST_F(Comparison, AnUnreadableFileOfTheRightSizeIsChanged)
{
    // A folder of that name: its size reads as 0 but it cannot be checked.
    CreateDirectoryA(LIBRARY_FOLDER "folder.dll", nullptr);
    EXPECT_EQ(compare("folder.dll", "0", "0").first, TEXT_STATUS_CHANGED);

    std::string bytes = make_bytes(100, 3);
    put("locked.xla", bytes);
    HANDLE held = CreateFileA(LIBRARY_FOLDER "locked.xla", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(compare("locked.xla", std::to_string(crc_of(bytes)), "100").first,
              TEXT_STATUS_CHANGED);
    CloseHandle(held);
}

TEST_F(Comparison, NamesReachingOutsideTheFolderAreNewWithoutLookingAtTheDisk)
{
    // A file that such a name would reach exists, yet the row shows New.
    put("x.dll", "abc");
    CreateDirectoryA(LIBRARY_FOLDER "sub", nullptr);
    for (const char *name : {"..\\x.dll", "sub\\..\\x.dll", "C:x.dll", "sub/x.dll", "", "a\tb"}) {
        auto r = compare(name, "1", "3");
        EXPECT_EQ(r.first, TEXT_STATUS_NEW) << name;
        EXPECT_EQ(r.second, "") << name;
    }
    char status[7];
    compare_local_file(nullptr, nullptr, nullptr, nullptr, status);  // absent inputs do not fail
    EXPECT_STREQ(status, TEXT_STATUS_NEW);
    EXPECT_STREQ(TEXT_STATUS_NEW,
                 "\xA1\xDA\xBD\xC5\xB1\xD4");  // the code page 949 bytes of "★신규"
}

}  // namespace
