// The registry settings store and the offline configuration file.
#include <gtest/gtest.h>
#include <cstring>
#include "catalogue/catalogue.h"
#include "settings/offline_config.h"
#include "settings/registry_store.h"
#include "test_support.h"

namespace {

struct RegistryStore : testing::Test {
    void SetUp() override { delete_settings_tree(); }
    void TearDown() override { delete_settings_tree(); }
};

TEST_F(RegistryStore, WritingCreatesTheKeyAndStoresTheTerminator)
{
    EXPECT_EQ(write_setting("port", "5757"), 1);
    std::string bytes;
    DWORD type = 0;
    ASSERT_TRUE(raw_setting("port", &bytes, &type));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(bytes, std::string("5757\0", 5));
    EXPECT_EQ(write_setting("IsPlimo", "1"), 1);
    ASSERT_TRUE(raw_setting("IsPlimo", &bytes, &type));
    EXPECT_EQ(bytes, std::string("1\0", 2));
    EXPECT_EQ(write_setting(nullptr, "1"), 0);
    EXPECT_EQ(write_setting("ip", nullptr), 0);

    char port[260];
    EXPECT_EQ(read_setting("port", port, sizeof port), 1);
    EXPECT_STREQ(port, "5757");
}

TEST_F(RegistryStore, MissingKeyLeavesTheBufferButMissingValueEmptiesIt)
{
    char host[64] = "kept";
    EXPECT_EQ(read_setting("ip", host, sizeof host), 0);
    EXPECT_STREQ(host, "kept");
    HKEY key;
    // A read never creates the key.
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key), ERROR_SUCCESS);

    write_setting("IsPlimo", "0");
    EXPECT_EQ(read_setting("ip", host, sizeof host), 0);
    EXPECT_STREQ(host, "");
}

TEST_F(RegistryStore, TheLastByteReturnedBecomesTheTerminator)
{
    // Stored without its terminator. Whatever length the platform's query returns for it,
    // the last byte returned is the one that becomes the terminator (Windows returns the
    // four digits, so the text reads "575"; some registries add a terminator of their own).
    put_raw_setting("port", REG_SZ, "5757", 4);
    std::string returned;
    DWORD type = 0;
    ASSERT_TRUE(raw_setting("port", &returned, &type));
    char text[260];
    EXPECT_EQ(read_setting("port", text, sizeof text), 1);
    EXPECT_EQ(std::string(text), returned.substr(0, returned.size() - 1).c_str());
    EXPECT_TRUE(returned.size() == 5 ? !strcmp(text, "5757") : !strcmp(text, "575")) << text;

    put_raw_setting("ip", REG_SZ, "", 0);
    strcpy(text, "junk");
    EXPECT_EQ(read_setting("ip", text, sizeof text), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(RegistryStore, ValuesLargerThanTheBufferReadAsAbsent)
{
    write_setting("IsPlimo", "1234");
    char small[4] = "xyz";
    EXPECT_EQ(read_setting("IsPlimo", small, sizeof small), 0);
    EXPECT_STREQ(small, "");
    write_setting("IsPlimo", "123");
    EXPECT_EQ(read_setting("IsPlimo", small, sizeof small), 1);
    EXPECT_STREQ(small, "123");

    // Data of another type is neither terminated nor cleared.
    put_raw_setting("ip", REG_BINARY, "0123456789", 10);
    char binary[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(read_setting("ip", binary, sizeof binary), 0);
    EXPECT_EQ(memcmp(binary, "abcd", 4), 0);
}

// ---------------------------------------------------------------- Offline.INI

const char WORK_DIRECTORY[] = "C:\\pavoset_cat_cwd";
const char WORK_CONFIG[] = "C:\\pavoset_cat_cwd\\Offline.INI";
const char INSTALLED_CONFIG[] = LIBRARY_FOLDER "Offline.INI";

struct OfflineConfig : testing::Test {
    static char saved_directory[MAX_PATH];
    char host[64] = "unchanged";
    unsigned short port = 1;

    // The program takes its start directory once; these tests start it here.
    static void SetUpTestSuite()
    {
        GetCurrentDirectoryA(MAX_PATH, saved_directory);
        CreateDirectoryA(WORK_DIRECTORY, nullptr);
        SetCurrentDirectoryA(WORK_DIRECTORY);
    }
    static void TearDownTestSuite()
    {
        SetCurrentDirectoryA(saved_directory);
        remove_tree(WORK_DIRECTORY);
    }
    void SetUp() override
    {
        DeleteFileA(WORK_CONFIG);
        reset_install_folder();
    }
    void TearDown() override
    {
        DeleteFileA(WORK_CONFIG);
        reset_install_folder();
    }
};
char OfflineConfig::saved_directory[MAX_PATH];

TEST_F(OfflineConfig, TheCurrentDirectoryFileIsUsedAndCopiedOnce)
{
    std::string first = "[SERVER]\r\nIP = 10.1.2.3  \r\nPORT=6000\r\n";
    write_whole_file(WORK_CONFIG, first);
    EXPECT_EQ(load_offline_config(host, &port), 1);
    EXPECT_STREQ(host, "10.1.2.3");
    EXPECT_EQ(port, 6000);
    EXPECT_EQ(read_whole_file(INSTALLED_CONFIG), first);

    // An install-folder file that exists is never overwritten.
    write_whole_file(WORK_CONFIG, "[SERVER]\r\nIP=10.9.9.9\r\n");
    EXPECT_EQ(load_offline_config(host, &port), 1);
    EXPECT_STREQ(host, "10.9.9.9");
    EXPECT_EQ(port, 6000);
    EXPECT_EQ(read_whole_file(INSTALLED_CONFIG), first);
}

TEST_F(OfflineConfig, ACommentOnlyFileCountsAsAbsentAndTheInstallFolderIsRead)
{
    write_whole_file(WORK_CONFIG, "; nothing here\r\n\r\n");
    write_whole_file(INSTALLED_CONFIG, "[SERVER]\nIP=192.168.0.1\nPORT=70000\n");
    EXPECT_EQ(load_offline_config(host, &port), 1);
    EXPECT_STREQ(host, "192.168.0.1");
    EXPECT_EQ(port, 4464);  // the low 16 bits of 70000
    EXPECT_EQ(read_whole_file(INSTALLED_CONFIG), "[SERVER]\nIP=192.168.0.1\nPORT=70000\n");
}

TEST_F(OfflineConfig, NoFileOrNoKeysLeaveTheOutputs)
{
    EXPECT_EQ(load_offline_config(host, &port), 0);
    EXPECT_STREQ(host, "unchanged");
    EXPECT_EQ(port, 1);
    write_whole_file(WORK_CONFIG, "[server]\nip=10.0.0.1\n[OTHER]\nIP=10.0.0.2\n");
    EXPECT_EQ(load_offline_config(host, &port), 1);
    EXPECT_STREQ(host, "unchanged");
    EXPECT_EQ(port, 1);
    EXPECT_EQ(load_offline_config(nullptr, &port), 0);
}

TEST_F(OfflineConfig, AHostTooLongForTheAddressIsRefusedNotCut)
{
    std::string longest(63, 'a'), too_long(64, 'b');
    write_whole_file(WORK_CONFIG, "[SERVER]\nIP=" + too_long + "\nPORT=6000abc\n");
    EXPECT_EQ(load_offline_config(host, &port), 1);
    EXPECT_STREQ(host, "unchanged");
    EXPECT_EQ(port, 6000);
    write_whole_file(WORK_CONFIG, "[SERVER]\nIP=" + longest + "\n");
    EXPECT_EQ(load_offline_config(host, &port), 1);
    EXPECT_EQ(std::string(host), longest);
}

TEST_F(OfflineConfig, CopyingAndExistence)
{
    std::string bytes = make_bytes(1000, 31);  // several 260-byte chunks, binary
    write_whole_file(WORK_CONFIG, bytes);
    EXPECT_EQ(file_exists(WORK_CONFIG), 1);
    EXPECT_EQ(file_exists(WORK_DIRECTORY), 0);
    EXPECT_EQ(file_exists(nullptr), 0);
    EXPECT_EQ(copy_file_into(WORK_CONFIG, LIBRARY_FOLDER "a\\b", "copy.bin"), 1);
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "a\\b\\copy.bin"), bytes);
    EXPECT_EQ(copy_file_into(WORK_CONFIG, LIBRARY_FOLDER, "copy2.bin"), 1);
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "copy2.bin"), bytes);
    EXPECT_EQ(copy_file_into("C:\\pavoset_cat_cwd\\missing", LIBRARY_FOLDER, "x"), 0);
    EXPECT_EQ(copy_file_into(WORK_CONFIG, "", "x"), 0);
    EXPECT_EQ(copy_file_into(WORK_CONFIG, LIBRARY_FOLDER, ""), 0);
}

}  // namespace
