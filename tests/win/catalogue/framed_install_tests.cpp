// Installation over the framed channel against a scripted framed server.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include "catalogue/catalogue.h"
#include "catalogue/framed_install.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_report.h"
#include "catalogue/local_comparison.h"
#include "framed_peer.h"
#include "core/text_protocol.h"
#include "net/framed/framed_session.h"
#include "net/framed/staged_file.h"
#include "res/texts.h"
#include "test_support.h"

namespace {

std::string failure_box(const std::string &name)
{
    char text[400];
    snprintf(text, sizeof text, TEXT_DOWNLOAD_FAILED_FORMAT, name.c_str());
    return std::string(TEXT_DOWNLOAD_FAILED_CAPTION "|") + text;
}

struct FramedInstall : testing::Test {
    test_window window = {};
    framed_peer peer;
    install_report report = {};
    std::vector<std::string> boxes;

    void SetUp() override
    {
        reset_install_folder();
        window = create_test_window();
    }
    void TearDown() override
    {
        stop_framed_peer(&peer);
        if (g_framed_session)
            release_session(g_framed_session);
        g_framed_session = nullptr;
        destroy_test_window(&window);
        release_catalogue();
        reset_install_folder();
    }
    void prepare(const std::string &catalogue, std::vector<framed_file_rule> rules)
    {
        peer.rules = rules;
        start_framed_peer(&peer);
        if (g_framed_session)
            release_session(g_framed_session);
        g_framed_session = create_session("127.0.0.1", peer.datagram_port);
        load_catalogue(catalogue);
        fill_rows(window);
    }
    int install()
    {
        int installed = -1;
        boxes =
            run_pass([&]() { installed = install_over_framed(window.main, window.list, &report); });
        return installed;
    }
    std::vector<std::string> requested()
    {
        std::lock_guard<std::mutex> hold(peer.lock);
        return peer.file_requests;
    }
};

std::string path_of(const std::string &name)
{
    return LIBRARY_FOLDER + name;
}

TEST_F(FramedInstall, NewFilesAreInstalledWithTheirTimesAndTheLedger)
{
    std::string a = make_bytes(2500, 21), b = make_bytes(70000, 22), c = make_bytes(100, 23);
    write_whole_file(path_of("c.dll").c_str(), c);
    prepare(record_for("a.dll", a, "-1", "30000000") + TEXT_RECORD_SEPARATOR +
                record_for("b.xls", b, "5", "6") + TEXT_RECORD_SEPARATOR +
                record_for("c.dll", c, "8", "9"),
            {{"a.dll", a, framed_file_rule::SERVE}, {"b.xls", b, framed_file_rule::SERVE}});
    int before = g_installed_count;
    EXPECT_EQ(install(), 2);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(g_installed_count, before + 2);
    EXPECT_EQ(requested(), (std::vector<std::string>{"a.dll", "b.xls"}));
    EXPECT_EQ(read_whole_file(path_of("a.dll").c_str()), a);
    EXPECT_EQ(read_whole_file(path_of("b.xls").c_str()), b);
    EXPECT_EQ(last_write_time(path_of("a.dll").c_str()), (30000000ull << 32) | 0xFFFFFFFFull);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(cell(window, row, COLUMN_STATUS), TEXT_STATUS_MATCH);
    // The framed pass leaves the current size as it was.
    EXPECT_EQ(cell(window, 0, COLUMN_LOCAL_SIZE), "");
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT"),
              "a.dll^|" + std::to_string(crc_of(a)) + "^|2500^|-1^|30000000\r\n" + "b.xls^|" +
                  std::to_string(crc_of(b)) + "^|70000^|5^|6\r\n" + "c.dll^|" +
                  std::to_string(crc_of(c)) + "^|100^|8^|9\r\n");
    auto names = install_folder_names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"EXCELLIBINFO.DAT", "a.dll", "b.xls", "c.dll"}));
}

TEST_F(FramedInstall, EachFailedFileIsShownAndKeepsTheOldFile)
{
    std::string wanted = make_bytes(5000, 24), good = make_bytes(1500, 25);
    std::string wrong = wanted;
    wrong[4000] ^= 0x40;
    const char *names[] = {"refused.dll", "broken.dll", "stalled.dll",
                           "short.dll",   "wrong.dll",  "..\\up.dll"};
    std::string catalogue;
    for (const char *name : names) {
        write_whole_file(path_of(name).c_str(), "old");
        catalogue += record_for(name, wanted) + TEXT_RECORD_SEPARATOR;
    }
    catalogue += record_for("good.dll", good);
    remove_tree("C:\\up.dll");
    prepare(catalogue, {{"refused.dll", wanted, framed_file_rule::REFUSE},
                        {"broken.dll", wanted, framed_file_rule::CLOSE_HALFWAY},
                        {"stalled.dll", wanted, framed_file_rule::STALL},
                        {"short.dll", wanted.substr(0, 4999), framed_file_rule::SERVE},
                        {"wrong.dll", wrong, framed_file_rule::SERVE},
                        {"..\\up.dll", wanted, framed_file_rule::SERVE},
                        {"good.dll", good, framed_file_rule::SERVE}});
    EXPECT_EQ(install(), 1);
    ASSERT_EQ(boxes.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(boxes[i], failure_box(names[i]));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(read_whole_file(path_of(names[i]).c_str()), "old") << names[i];
        EXPECT_EQ(cell(window, i, COLUMN_STATUS), TEXT_STATUS_CHANGED) << names[i];
    }
    EXPECT_FALSE(path_exists("C:\\up.dll"));
    EXPECT_EQ(read_whole_file(path_of("good.dll").c_str()), good);
    ASSERT_EQ(report.failed, 6);
    // A reset connection may look like an early end: broken or short, never installed.
    int reasons[] = {INSTALL_REFUSED, INSTALL_BROKEN,  INSTALL_BROKEN,
                     INSTALL_DAMAGED, INSTALL_DAMAGED, INSTALL_BAD_NAME};
    for (int i = 0; i < 6; ++i) {
        if (i == 1)
            EXPECT_TRUE(report.failed_reasons[i] == INSTALL_BROKEN ||
                        report.failed_reasons[i] == INSTALL_DAMAGED)
                << report.failed_reasons[i];
        else
            EXPECT_EQ(report.failed_reasons[i], reasons[i]) << names[i];
    }
    auto found = install_folder_names();
    EXPECT_EQ(found.size(), 7u);  // the six old files, good.dll and the ledger, nothing else
}

// A file service that keeps a file coming a byte at a time never trips the receive time-out:
// the rate bound abandons it with its own reason, and the old file stays.
TEST_F(FramedInstall, ATricklingFileServiceIsAbandonedBelowTheMinimumRate)
{
    rate_bound_for_test bound(1000, 1000);
    std::string slow = make_bytes(3000, 29), good = make_bytes(1500, 30);
    write_whole_file(path_of("slow.dll").c_str(), "old");
    prepare(record_for("slow.dll", slow) + TEXT_RECORD_SEPARATOR + record_for("good.dll", good),
            {{"slow.dll", slow, framed_file_rule::TRICKLE},
             {"good.dll", good, framed_file_rule::SERVE}});
    EXPECT_EQ(install(), 1);
    EXPECT_EQ(boxes, std::vector<std::string>{failure_box("slow.dll")});
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_TOO_SLOW);
    EXPECT_EQ(read_whole_file(path_of("slow.dll").c_str()), "old");
    EXPECT_EQ(read_whole_file(path_of("good.dll").c_str()), good);
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_CHANGED);
}

// A box left open must not hold the install lock: other sessions and scheduled runs install
// meanwhile.
TEST_F(FramedInstall, FailureBoxesComeAfterTheInstallLockIsReleased)
{
    std::string a = make_bytes(100, 31);
    prepare(record_for("a.dll", a) + TEXT_RECORD_SEPARATOR + record_for("b.dll", a),
            {{"a.dll", a, framed_file_rule::REFUSE}, {"b.dll", a, framed_file_rule::REFUSE}});
    std::vector<bool> lock_free;
    boxes = run_pass([&]() { install_over_framed(window.main, window.list, &report); },
                     [&]() {
                         HANDLE lock = take_install_lock();  // this thread is not the pass's
                         lock_free.push_back(lock != nullptr);
                         release_install_lock(lock);
                     });
    EXPECT_EQ(boxes, (std::vector<std::string>{failure_box("a.dll"), failure_box("b.dll")}));
    EXPECT_EQ(lock_free, (std::vector<bool>{true, true}));
}

TEST_F(FramedInstall, NoFileServiceFailsEveryFileButStillWritesTheLedger)
{
    peer.announced_port = unused_port();
    std::string a = make_bytes(10, 26);
    prepare(record_for("a.dll", a) + TEXT_RECORD_SEPARATOR + record_for("b.dll", a), {});
    EXPECT_EQ(install(), 0);
    EXPECT_EQ(boxes, (std::vector<std::string>{failure_box("a.dll"), failure_box("b.dll")}));
    EXPECT_EQ(report.failed_reasons[0], INSTALL_NO_CONNECTION);
    EXPECT_TRUE(path_exists(LIBRARY_FOLDER "EXCELLIBINFO.DAT"));
    EXPECT_FALSE(path_exists(LIBRARY_FOLDER "a.dll"));

    // Without a session there is no port to ask for at all.
    release_session(g_framed_session);
    g_framed_session = nullptr;
    EXPECT_EQ(install(), 0);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(FramedInstall, ATargetHeldOpenIsReportedInUse)
{
    std::string bytes = make_bytes(3000, 27);
    write_whole_file(path_of("PlimoExcel.xla").c_str(), "old");
    prepare(record_for("PlimoExcel.xla", bytes),
            {{"PlimoExcel.xla", bytes, framed_file_rule::SERVE}});
    HANDLE held = CreateFileA(path_of("PlimoExcel.xla").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(install(), 0);
    CloseHandle(held);
    EXPECT_EQ(boxes, std::vector<std::string>{failure_box("PlimoExcel.xla")});
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_IN_USE);
    EXPECT_EQ(read_whole_file(path_of("PlimoExcel.xla").c_str()), "old");
}

TEST_F(FramedInstall, AnAllMatchListTransfersNothingAndShowsNothing)
{
    std::string a = make_bytes(64, 28);
    write_whole_file(path_of("a.dll").c_str(), a);
    prepare(record_for("a.dll", a, "3", "4"), {});
    EXPECT_EQ(install(), 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(requested().empty());
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT"),
              "a.dll^|" + std::to_string(crc_of(a)) + "^|64^|3^|4\r\n");
}

}  // namespace
