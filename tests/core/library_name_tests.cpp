#include <gtest/gtest.h>

#include <string>

#include "catalogue/library_name.h"

TEST(LibraryName, AcceptsPlainNames) {
    EXPECT_EQ(library_name_is_safe("PlimoExcel.xla"), 1);
    EXPECT_EQ(library_name_is_safe("a.b.c"), 1);
    EXPECT_EQ(library_name_is_safe("\xB0\xA1\xB3\xAA.xls"), 1) << "code page 949 names";
    EXPECT_EQ(library_name_is_safe(std::string(LIBRARY_NAME_MAX, 'n').c_str()), 1);
}

TEST(LibraryName, RefusesWhatCouldLeaveTheFolder) {
    const char *bad[] = {"", "..", "..\\evil.dll", "a..b", "sub\\x.dll", "sub/x.dll", "C:x.dll",
                         "tab\there", "del\x7F", "line\n"};
    for (const char *name : bad) EXPECT_EQ(library_name_is_safe(name), 0) << name;
    EXPECT_EQ(library_name_is_safe(nullptr), 0);
    EXPECT_EQ(library_name_is_safe(std::string(LIBRARY_NAME_MAX + 1, 'n').c_str()), 0);
}
