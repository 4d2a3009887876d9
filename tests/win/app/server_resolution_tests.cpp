#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/run_log.h"
#include "app/server_resolution.h"
#include "res/texts.h"
#include "settings_registry.h"
#include "test_files.h"
#include "res/resource.h"
#include "settings/registry_store.h"

static const char INSTALL_FOLDER_INI[] = LIBRARY_FOLDER "Offline.INI";

static server_address resolve(const char *cmdline_host)
{
    server_address address;
    memset(&address, 0, sizeof address);
    resolve_server_address(&address, cmdline_host);
    return address;
}

TEST(ServerResolution, RegistryAddressAndTheIpOptionOverIt)
{
    registry_guard guard;
    write_setting("ip", "10.20.30.40");
    write_setting("port", "6123");
    server_address a = resolve(nullptr);
    EXPECT_STREQ("10.20.30.40", a.host);
    EXPECT_EQ(6123, a.port);

    // "-ip" replaces the host only; the port still comes from the registry.
    a = resolve("  127.0.0.1 ");
    EXPECT_STREQ("127.0.0.1", a.host);
    EXPECT_EQ(6123, a.port);
    // A blank "-ip" text is no host at all.
    a = resolve("   ");
    EXPECT_STREQ("10.20.30.40", a.host);

    // Only the low 16 bits of the stored number count.
    write_setting("port", "70000");
    EXPECT_EQ(70000 & 0xFFFF, resolve(nullptr).port);
}

TEST(ServerResolution, OfflineFileFillsWhatTheRegistryLacks)
{
    registry_guard guard;
    bool had_install_ini = path_exists(INSTALL_FOLDER_INI);
    write_setting("ip", "10.9.8.7");
    remove_setting("port");

    // The loader reads the current directory's file first.
    ASSERT_TRUE(write_whole_file("Offline.INI", "[SERVER]\r\nPORT=6001\r\n"));
    server_address a = resolve(nullptr);
    remove("Offline.INI");
    if (!had_install_ini)
        DeleteFileA(INSTALL_FOLDER_INI);

    // Registry host without a port: the file's port joins the host the registry left.
    EXPECT_STREQ("10.9.8.7", a.host);
    EXPECT_EQ(6001, a.port);
}

TEST(ServerResolution, BuiltInDefaultWhenNothingIsConfigured)
{
    if (path_exists("Offline.INI"))
        GTEST_SKIP() << "an Offline.INI lies beside the tests";
    // An install-folder file left by another run is set aside for the test.
    const char aside[] = LIBRARY_FOLDER "Offline.INI.app-tests";
    bool moved = MoveFileExA(INSTALL_FOLDER_INI, aside, MOVEFILE_REPLACE_EXISTING) != 0;
    registry_guard guard;
    remove_setting("ip");
    remove_setting("port");
    server_address plain = resolve(nullptr);
    server_address with_ip = resolve(" 127.0.0.1");
    if (moved)
        MoveFileExA(aside, INSTALL_FOLDER_INI, MOVEFILE_REPLACE_EXISTING);

    EXPECT_STREQ(DEFAULT_SERVER_HOST, plain.host);
    EXPECT_EQ(5757, plain.port);
    EXPECT_STREQ("127.0.0.1", with_ip.host);
    EXPECT_EQ(5757, with_ip.port);
}

// Machine policy (HKEY_LOCAL_MACHINE) over the user's values, each of host and port on its
// own; "-ip" over the policy's host; and a broken policy value passed over with a log line.
class PolicyAddress : public ::testing::Test {
protected:
    registry_guard user;
    machine_policy_guard machine;
    std::string folder;
    void SetUp() override
    {
        write_setting(SETTING_IP, "10.20.30.40");
        write_setting(SETTING_PORT, "6123");
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        folder = std::string(base) + "pavoset-policy-log-" + std::to_string(GetCurrentProcessId());
        run_log_set_folder(folder.c_str());
    }
    void TearDown() override
    {
        remove_tree(folder.c_str());
        run_log_set_folder(nullptr);
    }
    std::string log() { return read_whole_file(folder + "\\Pavoset.log"); }
    int resolve_source(const char *cmdline_host, server_address *address)
    {
        memset(address, 0, sizeof *address);
        return resolve_server_address(address, cmdline_host);
    }
};

TEST_F(PolicyAddress, PolicyOverTheUserAndTheIpOptionOverThePolicy)
{
    server_address a;
    // A 32-bit installer writes the 32-bit view; blanks around the host do not count.
    put_machine_text(SETTING_IP, " 10.1.1.1 ", KEY_WOW64_32KEY);
    EXPECT_EQ(ADDRESS_FROM_POLICY, resolve_source(nullptr, &a));
    EXPECT_STREQ("10.1.1.1", a.host);
    EXPECT_EQ(6123, a.port) << "a policy without a port keeps the user's";
    EXPECT_STREQ(TEXT_ADDRESS_FROM_POLICY, address_source_text(ADDRESS_FROM_POLICY));

    put_machine_text(SETTING_PORT, "7001");
    resolve_source(nullptr, &a);
    EXPECT_EQ(7001, a.port);

    EXPECT_EQ(ADDRESS_FROM_IP_OPTION, resolve_source("127.0.0.1", &a));
    EXPECT_STREQ("127.0.0.1", a.host);
    EXPECT_EQ(7001, a.port) << "-ip replaces the host only";

    // A port alone: the host and its source stay the user's.
    remove_machine_setting(SETTING_IP);
    EXPECT_EQ(ADDRESS_FROM_REGISTRY, resolve_source(nullptr, &a));
    EXPECT_STREQ("10.20.30.40", a.host);
    EXPECT_EQ(7001, a.port);
    EXPECT_EQ("", log()) << "good policy values leave nothing to complain of";
}

TEST_F(PolicyAddress, BrokenPolicyValuesArePassedOverAndLogged)
{
    server_address a;
    DWORD number = 0x0A000001;
    put_machine_setting(SETTING_IP, REG_DWORD, &number, sizeof number);
    put_machine_text(SETTING_PORT, "not a port");
    EXPECT_EQ(ADDRESS_FROM_REGISTRY, resolve_source(nullptr, &a));
    EXPECT_STREQ("10.20.30.40", a.host);
    EXPECT_EQ(6123, a.port);
    char line[200];
    snprintf(line, sizeof line, TEXT_LOG_POLICY_UNREADABLE_FORMAT, SETTING_IP);
    EXPECT_NE(std::string::npos, log().find(line)) << log();
    snprintf(line, sizeof line, TEXT_LOG_POLICY_UNREADABLE_FORMAT, SETTING_PORT);
    EXPECT_NE(std::string::npos, log().find(line)) << log();

    // A host longer than any host the program takes is no host either; a blank one is absent.
    put_machine_text(SETTING_IP, std::string(SERVER_HOST_SIZE + 10, 'h'));
    remove_machine_setting(SETTING_PORT);
    EXPECT_EQ(ADDRESS_FROM_REGISTRY, resolve_source(nullptr, &a));
    EXPECT_STREQ("10.20.30.40", a.host);
    put_machine_text(SETTING_IP, "   ");
    EXPECT_EQ(ADDRESS_FROM_REGISTRY, resolve_source(nullptr, &a));
}
