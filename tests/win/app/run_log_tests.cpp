// The run log: whole time-stamped lines, rotation at the limit keeping one older file, and
// a log that cannot be written never stopping the caller.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/run_log.h"
#include "test_files.h"

namespace {

// Every line ends in CR LF and starts with "YYYY-MM-DD hh:mm:ss [pid] ".
bool whole_lines(const std::string &text, const std::string &body, size_t *lines)
{
    size_t start = 0;
    *lines = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            return false;
        std::string line = text.substr(start, end - start);
        if (line.size() < 22 || line[4] != '-' || line[10] != ' ' || line[20] != '[' ||
            line.find("] " + body) == std::string::npos)
            return false;
        ++*lines;
        start = end + 2;
    }
    return true;
}

class RunLog : public ::testing::Test {
protected:
    std::string folder;
    void SetUp() override
    {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        folder = std::string(base) + "pavoset-log-" + std::to_string(GetCurrentProcessId());
        // Made by the first line, as %LOCALAPPDATA%\Pavoset is on a first run.
        run_log_set_folder(folder.c_str());
    }
    void TearDown() override
    {
        DeleteFileA((folder + "\\Pavoset.log").c_str());
        DeleteFileA((folder + "\\Pavoset.old.log").c_str());
        RemoveDirectoryA(folder.c_str());
        run_log_set_folder(nullptr);
    }
};

TEST_F(RunLog, RotatesAtTheLimitKeepingOneOlderFileOfWholeLines)
{
    std::string body(500, 'x');
    // Past twice the limit: the older file is itself replaced on the way.
    int total = 2 * RUN_LOG_LIMIT / 500 + 200;
    for (int i = 0; i < total; ++i)
        run_log("%s", body.c_str());
    std::string current = read_whole_file(folder + "\\Pavoset.log");
    std::string older = read_whole_file(folder + "\\Pavoset.old.log");
    EXPECT_LE(current.size(), (size_t)RUN_LOG_LIMIT);
    EXPECT_LE(older.size(), (size_t)RUN_LOG_LIMIT);
    EXPECT_GT(older.size(), (size_t)RUN_LOG_LIMIT - 600);
    size_t current_lines = 0, older_lines = 0;
    EXPECT_TRUE(whole_lines(current, body, &current_lines));
    EXPECT_TRUE(whole_lines(older, body, &older_lines));
    EXPECT_GT(current_lines, 0u);
    // No third file.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    int files = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++files;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(2, files);
}

TEST_F(RunLog, LongValuesAreCutAtWholeCharactersAndCannotForgeLines)
{
    // "가" is two bytes in CP949; an odd cut would leave half of one.
    std::string korean;
    for (int i = 0; i < RUN_LOG_LINE_MAX; ++i)
        korean += "가";
    run_log("x%s", korean.c_str());
    run_log("name: %s", "evil.xla\r\n2026-01-01 00:00:00 [1] 설치됨: forged");
    std::string text = read_whole_file(folder + "\\Pavoset.log");
    size_t first_end = text.find("\r\n");
    ASSERT_NE(std::string::npos, first_end);
    std::string first = text.substr(0, first_end);
    size_t body = first.find("] x") + 3;
    EXPECT_EQ(0u, (first.size() - body) % 2) << "a character was cut in half";
    EXPECT_LE(first.size() - body + 1, (size_t)RUN_LOG_LINE_MAX);
    std::string second = text.substr(first_end + 2);
    EXPECT_EQ(second.find("\r\n"), second.size() - 2) << "the value made a line of its own";
}

TEST_F(RunLog, AnUnwritableFolderIsIgnored)
{
    // A file where the folder should be: nothing can be created there.
    write_whole_file(folder, "in the way");
    run_log("nobody will read this");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\Pavoset.log").c_str()));
    DeleteFileA(folder.c_str());
}

TEST(RunLogPath, DefaultsToTheLocalApplicationDataFolder)
{
    run_log_set_folder(nullptr);
    char path[MAX_PATH] = {0};
    ASSERT_TRUE(run_log_path(path, sizeof path));
    std::string text = path;
    EXPECT_NE(std::string::npos, text.find("\\Pavoset\\Pavoset.log")) << text;
}

}  // namespace
