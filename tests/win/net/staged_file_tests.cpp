#include <cstdio>
#include <cstring>
#include <string>

#include "core/file_checksum.h"
#include "core/sha256.h"
#include "net/framed/framed_transfer.h"
#include "net/framed/staged_file.h"
#include "net_fixture.h"

namespace {

int count_files(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            count++;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return count;
}

// A private folder under the system's temporary folder, removed afterwards.
class StagedFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder_ =
            std::string(temp) + "pavoset_staged_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        target_ = folder_ + "lib.dll";
        write_whole_file(target_, "old content");
    }
    void TearDown() override
    {
        DeleteFileA(target_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    std::string folder_, target_;
};

TEST_F(StagedFile, CommitReplacesTheTargetWithTheCheckedBytes)
{
    staged_file f;
    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    EXPECT_EQ(2, count_files(folder_));                  // target and its staging file side by side
    EXPECT_EQ("old content", read_whole_file(target_));  // untouched while receiving
    ASSERT_EQ(1, staged_file_write(&f, "new ", 4));
    ASSERT_EQ(1, staged_file_write(&f, "bytes", 5));
    ASSERT_EQ(1, staged_file_write(&f, "", 0));
    EXPECT_EQ(9u, f.size);
    EXPECT_EQ(crc32_update(0, "new bytes", 9), f.crc);
    EXPECT_EQ(INSTALL_OK, staged_file_commit(&f));
    EXPECT_EQ("new bytes", read_whole_file(target_));
    EXPECT_EQ(1, count_files(folder_));
    DWORD attributes = GetFileAttributesA(target_.c_str());
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_HIDDEN);
    staged_file_abort(&f);  // after the end: harmless, the installed file stays
    EXPECT_EQ("new bytes", read_whole_file(target_));
}

TEST_F(StagedFile, AbortLeavesTheTargetAsItWas)
{
    staged_file f;
    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    staged_file_write(&f, "partial", 7);
    staged_file_abort(&f);
    EXPECT_EQ("old content", read_whole_file(target_));
    EXPECT_EQ(1, count_files(folder_));
    EXPECT_EQ(INSTALL_LOCAL_ERROR, staged_file_commit(&f));
    EXPECT_EQ(0, staged_file_write(&f, "x", 1));
    EXPECT_EQ("old content", read_whole_file(target_));
}

TEST_F(StagedFile, TargetHeldOpenIsReportedInUse)
{
    HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    staged_file f;
    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    staged_file_write(&f, "new", 3);
    EXPECT_EQ(INSTALL_IN_USE, staged_file_commit(&f));
    CloseHandle(held);
    EXPECT_EQ("old content", read_whole_file(target_));
    EXPECT_EQ(1, count_files(folder_));
}

TEST_F(StagedFile, UnusableTargetsAreRefused)
{
    staged_file f;
    EXPECT_EQ(0, staged_file_begin(&f, (folder_ + "missing\\lib.dll").c_str()));
    EXPECT_EQ(0, staged_file_begin(&f, (folder_ + std::string(300, 'a')).c_str()));
    EXPECT_EQ(0, staged_file_begin(&f, ""));
    EXPECT_EQ(0, staged_file_begin(&f, nullptr));
    EXPECT_EQ(1, count_files(folder_));
}

// The publisher's SHA-256 is the last word: other bytes never replace the target, whatever
// their size or CRC, and a hash that did not see every byte proves nothing.
TEST_F(StagedFile, AnExpectedSha256DecidesTheCommit)
{
    transfer_check check = {};
    check.check_sha256 = 1;
    // SHA-256("abc"), the standard's own example.
    const uint8_t abc[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                             0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                             0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    memcpy(check.sha256, abc, 32);
    uint8_t digest[32];
    ASSERT_EQ(1, sha256_of("abc", 3, digest));
    EXPECT_EQ(0, memcmp(digest, abc, 32)) << "the system's SHA-256";

    staged_file f;
    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    staged_file_expect(&f, &check);
    ASSERT_EQ(1, staged_file_write(&f, "abd", 3));
    EXPECT_EQ(INSTALL_SIGNATURE_MISMATCH, staged_file_commit(&f));
    EXPECT_EQ("old content", read_whole_file(target_));
    EXPECT_EQ(1, count_files(folder_)) << "the staged bytes are gone";

    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    ASSERT_EQ(1, staged_file_write(&f, "a", 1));
    staged_file_expect(&f, &check);  // too late: "a" was not hashed
    ASSERT_EQ(1, staged_file_write(&f, "bc", 2));
    EXPECT_EQ(INSTALL_SIGNATURE_MISMATCH, staged_file_commit(&f));
    EXPECT_EQ("old content", read_whole_file(target_));

    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    staged_file_expect(&f, &check);
    ASSERT_EQ(1, staged_file_write(&f, "a", 1));
    ASSERT_EQ(1, staged_file_write(&f, "bc", 2));
    EXPECT_EQ(INSTALL_OK, staged_file_commit(&f));
    EXPECT_EQ("abc", read_whole_file(target_));
}

// The bytes checked are the bytes installed: between the check and the replacement nobody can
// open the staged file to change them.
bool g_outsider_wrote = false;

void outsider_writes(const staged_file *f)
{
    HANDLE h = CreateFileA(f->temp_path, GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    g_outsider_wrote = h != INVALID_HANDLE_VALUE && WriteFile(h, "evil", 4, &written, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

TEST_F(StagedFile, NobodyCanChangeTheStagedBytesBetweenTheirCheckAndTheReplacement)
{
    staged_file f;
    ASSERT_EQ(1, staged_file_begin(&f, target_.c_str()));
    DWORD attributes = GetFileAttributesA(f.temp_path);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << "hidden from its creation";
    ASSERT_EQ(1, staged_file_write(&f, "checked", 7));
    g_before_replacement = outsider_writes;
    EXPECT_EQ(INSTALL_OK, staged_file_commit(&f));
    g_before_replacement = nullptr;
    EXPECT_FALSE(g_outsider_wrote);
    EXPECT_EQ("checked", read_whole_file(target_));
    EXPECT_EQ(0u, GetFileAttributesA(target_.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(1, count_files(folder_));
}

}  // namespace
