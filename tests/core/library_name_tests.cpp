#include <gtest/gtest.h>

#include <string>

#include "core/library_name.h"
#include "core/name_case.h"

TEST(LibraryName, AcceptsPlainNames)
{
    EXPECT_EQ(library_name_is_safe("PlimoExcel.xla"), 1);
    EXPECT_EQ(library_name_is_safe("a.b.c"), 1);
    EXPECT_EQ(library_name_is_safe("\xB0\xA1\xB3\xAA.xls"), 1) << "code page 949 names";
    EXPECT_EQ(library_name_is_safe(std::string(LIBRARY_NAME_MAX, 'n').c_str()), 1);
    const char *near_devices[] = {"COM10.dll", "console.dll", "LPT", "CONX", ".hidden", "nul_x"};
    for (const char *name : near_devices)
        EXPECT_EQ(library_name_is_safe(name), 1) << name;
}

TEST(LibraryName, RefusesWhatCouldLeaveTheFolder)
{
    const char *bad[] = {"",          "..",      "..\\evil.dll", "a..b",    "sub\\x.dll",
                         "sub/x.dll", "C:x.dll", "tab\there",    "del\x7F", "line\n"};
    for (const char *name : bad)
        EXPECT_EQ(library_name_is_safe(name), 0) << name;
    EXPECT_EQ(library_name_is_safe(nullptr), 0);
    // The install folder and the name fit Windows' 259 characters, no more.
    EXPECT_EQ(LIBRARY_NAME_MAX + (int)sizeof "C:\\TervalenWyndale\\" - 1, 259);
    EXPECT_EQ(library_name_is_safe(std::string(LIBRARY_NAME_MAX + 1, 'n').c_str()), 0);
}

// Windows maps these to a device or to another name, so two rows could share one file.
TEST(LibraryName, RefusesDeviceNamesAndNamesWindowsWouldCut)
{
    const char *bad[] = {"CON",     "con.xls", "Lpt1.dll", "COM9",   "nul .txt", "aux",
                         "PRN.x.y", "CONOUT$", "a.dll.",   "a.dll ", "."};
    for (const char *name : bad)
        EXPECT_EQ(library_name_is_safe(name), 0) << name;
}

// Windows folds letter case over the whole name, not ASCII alone. The same cases run natively
// (iconv and the C.UTF-8 fold, as the server signs) and under Wine (CompareStringOrdinal).
TEST(LibraryName, NamesThatWindowsTakesForOneFile)
{
    const char *same[][2] = {
        {"A.dll", "a.DLL"},
        {"\xA3\xE1.dll", "\xA3\xC1.dll"},  // full-width a and A
        {"\xA5\xE1.xla", "\xA5\xC1.xla"},  // Greek alpha
        {"\xAC\xD1.xls", "\xAC\xA1.XLS"},  // Cyrillic a
    };
    for (auto &pair : same)
        EXPECT_EQ(library_names_same_file(pair[0], pair[1]), 1) << pair[0] << " " << pair[1];
    const char *apart[][2] = {
        {"\x81\x61.dll", "\x81\x41.dll"},  // trail bytes that look like letters: two characters
        {"\xA3\xE1.dll", "a.dll"},         // full-width and ASCII are two names
        {"\xB0\xA1.dll", "\xB0\xA2.dll"},
        {"a.dll", "a.dl"},
    };
    for (auto &pair : apart)
        EXPECT_EQ(library_names_same_file(pair[0], pair[1]), 0) << pair[0] << " " << pair[1];
    EXPECT_EQ(library_names_same_file(nullptr, "a"), 0);
}
