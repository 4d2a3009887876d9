#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "app/server_resolution.h"
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
