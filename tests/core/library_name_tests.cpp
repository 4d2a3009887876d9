#include <gtest/gtest.h>

#include <string>

#include "catalogue/library_name.h"

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
