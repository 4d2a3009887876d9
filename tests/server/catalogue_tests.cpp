// The catalogue as the client reads it: record format, file times, names it can take safely,
// and the checksum cache.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_checksum.h"
#include "core/library_name.h"
#include "core/text_protocol.h"
#include "server/file_time.h"
#include "server/library_catalogue.h"
#include "server/wire_name.h"
#include "tests/server/test_server.h"

TEST(FileTime, HalvesAreSignedBitPatternsOfTheWindowsTime)
{
    // 1970-01-01 is 116444736000000000 ticks after 1601: 0x019DB1DE_D53E8000.
    uint64_t epoch = filetime_from_unix(0, 0);
    EXPECT_EQ(epoch, 116444736000000000ull);
    EXPECT_EQ(filetime_high_signed(epoch), 0x019DB1DE);
    EXPECT_EQ(filetime_low_signed(epoch), static_cast<int32_t>(0xD53E8000u));
    EXPECT_LT(filetime_low_signed(epoch), 0);  // written in its negative form
    EXPECT_EQ(filetime_from_unix(1, 123456789), epoch + 10000000ull + 1234567ull);
    EXPECT_EQ(filetime_from_unix(-20000000000LL, 0), 0u);  // before 1601: clamped, not wrapped
}

TEST(WireName, RefusesNamesTheClientCannotTakeSafely)
{
    const char *const refused[] = {
        "",     ".",        "..",    "..\\x", "../x",      "C:\\x",   "a/b",     "a\\b",
        "c:x",  "a|b",      "a^|b",  "a~|b",  "tab\there", "del\x7f", "a*b",     "a?b",
        "a<b",  "a>b",      "a\"b",  "ends.", "ends ",     "CON",     "con.xls", "Lpt1.dll",
        "COM9", "nul .txt", "x&amp", "x&lt",  "'quoted'",
    };
    for (const char *name : refused)
        EXPECT_FALSE(wire_name_problem(name).empty()) << "accepted: " << name;
    EXPECT_FALSE(wire_name_problem(std::string(LIBRARY_NAME_MAX + 1, 'a')).empty());
    EXPECT_FALSE(wire_name_problem(std::string("a\0b", 3)).empty());

    const char *const accepted[] = {
        "PlimoExcel.xla", "Kickoff.xls", "Stickrow64.dll", "a&b.dll",   "x&amp;y.dll",
        "it's.xls",       "COM10.dll",   "console.dll",    "a~b^c.dll", ".hidden",
    };
    for (const char *name : accepted)
        EXPECT_EQ(wire_name_problem(name), "") << name;
    EXPECT_EQ(wire_name_problem(std::string(LIBRARY_NAME_MAX, 'a')), "");
}

TEST(WireName, ConvertsUtf8ToCodePage949AndRefusesWhatItCannotHold)
{
    std::string wire, reason;
    ASSERT_TRUE(wire_name_from_utf8("한글.dll", &wire, &reason)) << reason;
    EXPECT_EQ(wire, "\xC7\xD1\xB1\xDB.dll");
    EXPECT_EQ(wire_name_problem(wire), "");
    EXPECT_FALSE(wire_name_from_utf8("smile\xF0\x9F\x98\x80.dll", &wire, &reason));
    EXPECT_FALSE(wire_name_from_utf8("bad\xFF.dll", &wire, &reason));
}

// The record the client must see for a file, computed here from first principles.
static std::string expected_record(const std::string &dir, const std::string &name)
{
    std::string content = read_file(dir + "/" + name);
    struct stat st;
    stat((dir + "/" + name).c_str(), &st);
    uint64_t ft = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                  static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
    return name + TEXT_FIELD_SEPARATOR +
           std::to_string(crc32_update(0, content.data(), content.size())) + TEXT_FIELD_SEPARATOR +
           std::to_string(content.size()) + TEXT_FIELD_SEPARATOR +
           std::to_string(static_cast<int32_t>(ft & 0xFFFFFFFFu)) + TEXT_FIELD_SEPARATOR +
           std::to_string(static_cast<int32_t>(ft >> 32));
}

TEST(Catalogue, SampleLibraryRecordsMatchTheFiles)
{
    std::string dir = make_sample_folder();
    catalogue_cache cache;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error)) << error;
    ASSERT_TRUE(refresh_catalogue(&cache, &error)) << error;

    const char *const names[] = {"Kickoff.xls",   "PlimoChart.xla", "PlimoExcel.xla",
                                 "PlimoHelp.xls", "PlimoSetup.ini", "Stickrow.dll",
                                 "Stickrow64.dll"};
    std::string expected;
    for (const char *name : names)
        expected += (expected.empty() ? "" : TEXT_RECORD_SEPARATOR) + expected_record(dir, name);
    EXPECT_EQ(cache.current.text, expected);
    EXPECT_LE(cache.current.text.size(), 2048u - 10u);
    // The library must exercise the negative low half, and fixed times make it reproducible.
    ASSERT_EQ(cache.current.files.size(), 7u);
    const library_file &big = cache.current.files[6];
    EXPECT_EQ(big.fs_name, "Stickrow64.dll");
    EXPECT_GE(static_cast<uint32_t>(filetime_from_unix(big.mtime_sec, big.mtime_nsec)),
              0x80000000u);
    EXPECT_NE(expected.find("^|-"), std::string::npos);
    EXPECT_GT(big.size, 3000000u);
    EXPECT_EQ(framed_catalogue_body(cache.current), expected);

    // A second sample is byte for byte the same.
    std::string again = make_sample_folder();
    catalogue_cache other;
    ASSERT_TRUE(open_catalogue_cache(&other, again, &error));
    ASSERT_TRUE(refresh_catalogue(&other, &error));
    EXPECT_EQ(other.current.text, cache.current.text);
    remove_folder(again);
    remove_folder(dir);
}

TEST(Catalogue, ChecksumsAreCachedUntilAFileChanges)
{
    std::string dir = make_scratch_folder();
    write_file(dir + "/a.dll", std::string(5000, 'a'));
    write_file(dir + "/b.dll", std::string(7000, 'b'));
    catalogue_cache cache;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error));
    ASSERT_TRUE(refresh_catalogue(&cache, &error));
    EXPECT_EQ(cache.bytes_checksummed, 12000u);
    ASSERT_TRUE(refresh_catalogue(&cache, &error));
    EXPECT_EQ(cache.bytes_checksummed, 12000u);  // nothing changed, nothing read

    uint32_t old_crc = cache.current.files[0].crc;
    write_file(dir + "/a.dll", std::string(5000, 'z'), 1700000100);  // same size, new time
    ASSERT_TRUE(refresh_catalogue(&cache, &error));
    EXPECT_EQ(cache.bytes_checksummed, 17000u);
    EXPECT_NE(cache.current.files[0].crc, old_crc);
    EXPECT_EQ(cache.current.text.substr(0, cache.current.text.find(TEXT_RECORD_SEPARATOR)),
              expected_record(dir, "a.dll"));
    remove_folder(dir);
}

TEST(Catalogue, OneFileLibraryGivesTheFramedClientTwoRecords)
{
    std::string dir = make_scratch_folder();
    write_file(dir + "/only.dll", "x");
    catalogue_cache cache;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error));
    ASSERT_TRUE(refresh_catalogue(&cache, &error));
    EXPECT_EQ(framed_catalogue_body(cache.current), cache.current.text + TEXT_RECORD_SEPARATOR);
    EXPECT_EQ(cache.current.text.find(TEXT_RECORD_SEPARATOR), std::string::npos);
    remove_folder(dir);
}

// Each bad library is refused with an error naming the cause; a library that goes bad while
// serving keeps its last good catalogue.
TEST(Catalogue, RefusesLibrariesTheClientCannotTake)
{
    std::string error;
    catalogue_cache cache;
    EXPECT_FALSE(open_catalogue_cache(&cache, "/nonexistent/folder", &error));

    struct bad_case {
        const char *label;
        void (*fill)(const std::string &dir);
        const char *error_part;
    };
    const bad_case cases[] = {
        {"sixteen files",
         [](const std::string &dir) {
             for (int i = 0; i < 16; ++i)
                 write_file(dir + "/f" + std::to_string(i + 10) + ".dll", "x");
         },
         "more than 15"},
        {"unsafe name", [](const std::string &dir) { write_file(dir + "/a:b.dll", "x"); },
         "a:b.dll"},
        {"name without code page 949 form",
         [](const std::string &dir) { write_file(dir + "/\xF0\x9F\x98\x80.dll", "x"); }, "949"},
        {"case collision",
         [](const std::string &dir) {
             write_file(dir + "/Same.dll", "x");
             write_file(dir + "/SAME.dll", "y");
         },
         "letter case"},
        {"catalogue too long",
         [](const std::string &dir) {
             for (int i = 0; i < 12; ++i)
                 write_file(dir + "/" + std::string(200, static_cast<char>('a' + i)), "x");
         },
         "2048"},
        {"link leaving the root",
         [](const std::string &dir) {
             write_file(dir + "/good.dll", "x");
             EXPECT_EQ(symlink("/etc/hostname", (dir + "/escape.dll").c_str()), 0);
         },
         "escape.dll"},
    };
    for (const bad_case &c : cases) {
        std::string dir = make_scratch_folder();
        c.fill(dir);
        catalogue_cache bad;
        ASSERT_TRUE(open_catalogue_cache(&bad, dir, &error));
        error.clear();
        EXPECT_FALSE(refresh_catalogue(&bad, &error)) << c.label;
        EXPECT_NE(error.find(c.error_part), std::string::npos) << c.label << ": " << error;
        remove_folder(dir);
    }

    // Going bad at run time: the last good catalogue stays.
    std::string dir = make_scratch_folder();
    write_file(dir + "/good.dll", "x");
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error));
    ASSERT_TRUE(refresh_catalogue(&cache, &error));
    std::string good = cache.current.text;
    write_file(dir + "/bad|name.dll", "y");
    EXPECT_FALSE(refresh_catalogue(&cache, &error));
    EXPECT_EQ(cache.current.text, good);
    ASSERT_NE(find_library_file(&cache, "good.dll"), nullptr);
    EXPECT_EQ(find_library_file(&cache, "bad|name.dll"), nullptr);
    remove_folder(dir);
}

TEST(Catalogue, LinksInsideTheRootAreServedButSubfoldersAreNot)
{
    std::string dir = make_scratch_folder();
    write_file(dir + "/real.dll", "content");
    ASSERT_EQ(symlink("real.dll", (dir + "/alias.dll").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    write_file(dir + "/sub/nested.dll", "n");
    catalogue_cache cache;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error));
    ASSERT_TRUE(refresh_catalogue(&cache, &error)) << error;
    ASSERT_EQ(cache.current.files.size(), 2u);
    EXPECT_EQ(cache.current.files[0].fs_name, "alias.dll");
    EXPECT_EQ(cache.current.files[0].crc, cache.current.files[1].crc);
    remove_folder(dir);
}
