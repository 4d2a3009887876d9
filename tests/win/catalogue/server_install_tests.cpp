// Both install passes against the reference server (run only when PAVOSET_SERVER_PORT names
// a running server and PAVOSET_SAMPLE_DIR its sample folder, as a Windows path).
#include <gtest/gtest.h>
#include <cstdlib>
#include "catalogue/catalogue.h"
#include "catalogue/framed_install.h"
#include "catalogue/local_comparison.h"
#include "catalogue/text_install.h"
#include "core/decimal_text.h"
#include "net/framed/framed_session.h"
#include "net/text/text_channel.h"
#include "res/texts.h"
#include "test_support.h"

namespace {

struct AgainstServer : testing::Test {
    test_window window = {};
    std::string sample;
    install_report report = {};
    std::vector<std::string> boxes;

    void SetUp() override
    {
        std::string port = env_text("PAVOSET_SERVER_PORT");
        sample = env_text("PAVOSET_SAMPLE_DIR");
        if (port.empty() || sample.empty())
            GTEST_SKIP() << "PAVOSET_SERVER_PORT / PAVOSET_SAMPLE_DIR not set";
        point_client_at((uint16_t)atoi(port.c_str()));
        reset_install_folder();
        window = create_test_window();
    }
    void TearDown() override
    {
        close_text_channel();
        if (g_framed_session)
            release_session(g_framed_session);
        g_framed_session = nullptr;
        destroy_test_window(&window);
        release_catalogue();
        reset_install_folder();
    }
    bool refresh(bool text)
    {
        field_list records;
        if (text) {
            if (open_text_channel() != CHANNEL_OPEN || !fetch_catalogue_text(&records))
                return false;
        } else if (!fetch_catalogue_framed(&records)) {
            return false;
        }
        build_catalogue(&records);
        fill_rows(window);
        return g_catalogue_count > 0;
    }
    int install(bool text)
    {
        int installed = -1;
        boxes = run_pass([&]() {
            installed = text ? install_over_text(window.main, window.list, &report)
                             : install_over_framed(window.main, window.list, &report);
        });
        return installed;
    }
    // Every file as the server has it, with the catalogue's time; rows Match; ledger lines.
    void expect_installed_library()
    {
        std::string ledger = read_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT");
        size_t lines = 0;
        for (size_t at = 0; (at = ledger.find("\r\n", at)) != std::string::npos; at += 2)
            ++lines;
        EXPECT_EQ(lines, (size_t)g_catalogue_count);
        for (int i = 0; i < g_catalogue_count; ++i) {
            const catalogue_entry &e = g_catalogue[i];
            std::string local = LIBRARY_FOLDER + std::string(e.name);
            EXPECT_EQ(read_whole_file(local.c_str()),
                      read_whole_file((sample + "\\" + e.name).c_str()))
                << e.name;
            uint64_t wanted = ((uint64_t)(uint32_t)parse_i32_saturated(e.time_high) << 32) |
                              (uint32_t)parse_i32_saturated(e.time_low);
            EXPECT_EQ(last_write_time(local.c_str()), wanted) << e.name;
            EXPECT_EQ(cell(window, i, COLUMN_STATUS), TEXT_STATUS_MATCH) << e.name;
        }
    }
    void fresh_then_upgrade(bool text)
    {
        ASSERT_TRUE(refresh(text));
        for (int i = 0; i < g_catalogue_count; ++i)
            EXPECT_EQ(cell(window, i, COLUMN_STATUS), TEXT_STATUS_NEW);
        EXPECT_EQ(install(text), g_catalogue_count);
        EXPECT_TRUE(boxes.empty());
        expect_installed_library();

        // Change the first file, and mark the second with a time of our own: only the changed
        // file may be fetched again, so the mark must survive the upgrade.
        ASSERT_GE(g_catalogue_count, 2);
        std::string changed = LIBRARY_FOLDER + std::string(g_catalogue[0].name);
        std::string kept = LIBRARY_FOLDER + std::string(g_catalogue[1].name);
        write_whole_file(changed.c_str(), "locally damaged");
        HANDLE file =
            CreateFileA(kept.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME mark = {12345, 0x01D00000};
        SetFileTime(file, nullptr, nullptr, &mark);
        CloseHandle(file);

        ASSERT_TRUE(refresh(text));
        EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_CHANGED);
        EXPECT_EQ(cell(window, 1, COLUMN_STATUS), TEXT_STATUS_MATCH);
        EXPECT_EQ(install(text), 1);
        EXPECT_EQ(read_whole_file(changed.c_str()),
                  read_whole_file((sample + "\\" + g_catalogue[0].name).c_str()));
        EXPECT_EQ(last_write_time(kept.c_str()), ((uint64_t)0x01D00000 << 32) | 12345);

        // Nothing left to do: no transfer, the ledger still rewritten.
        DeleteFileA(LIBRARY_FOLDER "EXCELLIBINFO.DAT");
        ASSERT_TRUE(refresh(text));
        EXPECT_EQ(install(text), 0);
        EXPECT_TRUE(path_exists(LIBRARY_FOLDER "EXCELLIBINFO.DAT"));
    }
};

TEST_F(AgainstServer, TextProtocolInstallsAndUpgrades)
{
    fresh_then_upgrade(true);
}

TEST_F(AgainstServer, FramedProtocolInstallsAndUpgrades)
{
    fresh_then_upgrade(false);
}

}  // namespace
