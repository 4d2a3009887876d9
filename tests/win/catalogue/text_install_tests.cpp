// Installation over the text channel against scripted servers, and the ledger it writes.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include "catalogue/catalogue.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_report.h"
#include "catalogue/local_comparison.h"
#include "catalogue/staging_leftovers.h"
#include "catalogue/text_install.h"
#include "core/text_protocol.h"
#include "net/framed/staged_file.h"
#include "net/text/text_channel.h"
#include "res/texts.h"
#include "test_support.h"

namespace {

struct TextInstall : testing::Test {
    test_window window = {};
    text_peer peer;
    install_report report = {};

    void SetUp() override
    {
        reset_install_folder();
        window = create_test_window();
    }
    void TearDown() override
    {
        close_text_channel();
        stop_text_peer(&peer);
        destroy_test_window(&window);
        release_catalogue();
        reset_install_folder();
    }
    // Serves rules, lists catalogue, connects the channel and fills the rows.
    void prepare(const std::string &catalogue, std::vector<text_file_rule> rules)
    {
        start_text_peer(&peer, text_file_server("", rules));
        point_client_at(peer.port);
        ASSERT_EQ(open_text_channel(), CHANNEL_OPEN);
        load_catalogue(catalogue);
        fill_rows(window);
    }
    int install()
    {
        int installed = -1;
        run_pass([&]() { installed = install_over_text(window.main, window.list, &report); });
        return installed;
    }
    std::vector<std::string> file_requests()
    {
        std::lock_guard<std::mutex> hold(peer.lock);
        std::vector<std::string> names;
        for (auto &r : peer.requests)
            names.push_back(r.substr(TEXT_REQUEST_FILE_LENGTH));
        return names;
    }
    // Every name in the folder is one of these (no temporary file is left behind).
    void expect_folder_holds(std::vector<std::string> names)
    {
        auto found = install_folder_names();
        std::sort(found.begin(), found.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(found, names);
    }
};

std::string path_of(const std::string &name)
{
    return LIBRARY_FOLDER + name;
}

TEST_F(TextInstall, FreshInstallWritesEveryFileItsTimeTheRowsAndTheLedger)
{
    std::string dll = make_bytes(100000, 1), xla = make_bytes(2500, 2), small = make_bytes(10, 3);
    std::string catalogue =
        record_for("Stickrow64.dll", dll, "-1294967296", "30000000") + TEXT_RECORD_SEPARATOR +
        record_for("PlimoExcel.xla", xla, "3000000000", "29000000") + TEXT_RECORD_SEPARATOR +
        record_for("설정.dat", small, "12345", "31000000");
    prepare(catalogue, {{"Stickrow64.dll", dll, text_file_rule::SERVE},
                        {"PlimoExcel.xla", xla, text_file_rule::SERVE},
                        {"설정.dat", small, text_file_rule::SERVE}});
    int before = g_installed_count;
    EXPECT_EQ(install(), 3);
    EXPECT_EQ(g_installed_count, before + 3);
    EXPECT_EQ(report.installed, 3);
    EXPECT_EQ(report.failed, 0);

    EXPECT_EQ(read_whole_file(path_of("Stickrow64.dll").c_str()), dll);
    EXPECT_EQ(read_whole_file(path_of("PlimoExcel.xla").c_str()), xla);
    EXPECT_EQ(read_whole_file(path_of("설정.dat").c_str()), small);
    // A low half written in its negative form keeps its bits; one beyond the signed range
    // saturates.
    EXPECT_EQ(last_write_time(path_of("Stickrow64.dll").c_str()),
              (30000000ull << 32) | 3000000000ull);
    EXPECT_EQ(last_write_time(path_of("PlimoExcel.xla").c_str()),
              (29000000ull << 32) | 0x7FFFFFFFull);
    EXPECT_EQ(last_write_time(path_of("설정.dat").c_str()), (31000000ull << 32) | 12345ull);

    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(cell(window, row, COLUMN_STATUS), TEXT_STATUS_MATCH);
    EXPECT_EQ(cell(window, 0, COLUMN_LOCAL_SIZE), "100000");
    EXPECT_EQ(cell(window, 2, COLUMN_LOCAL_SIZE), "10");
    EXPECT_EQ(SendMessageA(window.progress, PBM_GETPOS, 0, 0), 0);

    std::string expected_ledger =
        "Stickrow64.dll^|" + std::to_string(crc_of(dll)) + "^|100000^|-1294967296^|30000000\r\n" +
        "PlimoExcel.xla^|" + std::to_string(crc_of(xla)) + "^|2500^|3000000000^|29000000\r\n" +
        "설정.dat^|" + std::to_string(crc_of(small)) + "^|10^|12345^|31000000\r\n";
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT"), expected_ledger);
    expect_folder_holds({"Stickrow64.dll", "PlimoExcel.xla", "설정.dat", "EXCELLIBINFO.DAT"});
}

TEST_F(TextInstall, UpgradeRequestsOnlyTheChangedFile)
{
    std::string same = make_bytes(3000, 4), old_bytes = make_bytes(3000, 5),
                new_bytes = make_bytes(3500, 6);
    write_whole_file(path_of("same.dll").c_str(), same);
    write_whole_file(path_of("changed.dll").c_str(), old_bytes);
    prepare(record_for("same.dll", same) + TEXT_RECORD_SEPARATOR +
                record_for("changed.dll", new_bytes),
            {{"same.dll", same, text_file_rule::SERVE},
             {"changed.dll", new_bytes, text_file_rule::SERVE}});
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_MATCH);
    EXPECT_EQ(cell(window, 1, COLUMN_STATUS), TEXT_STATUS_CHANGED);
    EXPECT_EQ(install(), 1);
    EXPECT_EQ(file_requests(), std::vector<std::string>{"changed.dll"});
    EXPECT_EQ(read_whole_file(path_of("changed.dll").c_str()), new_bytes);
    EXPECT_EQ(cell(window, 1, COLUMN_LOCAL_SIZE), "3500");
}

TEST_F(TextInstall, FailedFilesKeepTheOldFileAndLaterFilesStillInstall)
{
    std::string good = make_bytes(5000, 7);
    std::string wanted = make_bytes(6000, 8);
    std::string old_bytes = "previous version";
    std::string wrong_crc = wanted;
    wrong_crc[100] ^= 1;
    const char *names[] = {"refused.dll", "two.dll", "short.dll", "crc.dll", "broken.dll"};
    std::string catalogue;
    for (const char *name : names) {
        write_whole_file(path_of(name).c_str(), old_bytes);
        catalogue += record_for(name, wanted) + TEXT_RECORD_SEPARATOR;
    }
    catalogue += record_for("good.dll", good);
    prepare(catalogue, {{"refused.dll", wanted, text_file_rule::REFUSE},
                        {"two.dll", wanted, text_file_rule::TWO_FIELDS},
                        {"short.dll", wanted.substr(0, 5999), text_file_rule::SERVE},
                        {"crc.dll", wrong_crc, text_file_rule::SERVE},
                        {"broken.dll", wanted, text_file_rule::CLOSE_HALFWAY},
                        {"good.dll", good, text_file_rule::SERVE}});
    EXPECT_EQ(install(), 1);
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(read_whole_file(path_of(names[row]).c_str()), old_bytes) << names[row];
        EXPECT_EQ(cell(window, row, COLUMN_STATUS), TEXT_STATUS_CHANGED) << names[row];
        EXPECT_EQ(cell(window, row, COLUMN_LOCAL_SIZE), std::to_string(old_bytes.size()))
            << names[row];
    }
    // The unusable two-field answer and the broken transfer each cost the connection; it was
    // opened anew for the next file.
    EXPECT_EQ(read_whole_file(path_of("good.dll").c_str()), good);
    EXPECT_EQ(cell(window, 5, COLUMN_STATUS), TEXT_STATUS_MATCH);
    EXPECT_EQ(peer.accepted, 3);
    ASSERT_EQ(report.failed, 5);
    int reasons[] = {INSTALL_REFUSED, INSTALL_REFUSED, INSTALL_DAMAGED, INSTALL_DAMAGED,
                     INSTALL_BROKEN};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(report.failed_names[i], names[i]);
        EXPECT_EQ(report.failed_reasons[i], reasons[i]) << names[i];
    }
    expect_folder_holds({"refused.dll", "two.dll", "short.dll", "crc.dll", "broken.dll", "good.dll",
                         "EXCELLIBINFO.DAT"});
}

TEST_F(TextInstall, AnEmptyLibraryFileIsInstalledWhenTheCatalogueSaysEmpty)
{
    // The server announces 0 bytes for both; only the catalogue's empty one may be made.
    prepare(
        record_for("empty.ini", "") + TEXT_RECORD_SEPARATOR +
            record_for("notempty.ini", make_bytes(40, 9)),
        {{"empty.ini", "", text_file_rule::SERVE}, {"notempty.ini", "", text_file_rule::SERVE}});
    EXPECT_EQ(install(), 1);
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_MATCH);
    EXPECT_EQ(cell(window, 0, COLUMN_LOCAL_SIZE), "0");
    EXPECT_EQ(read_whole_file(path_of("empty.ini").c_str()), "");
    EXPECT_EQ(GetFileAttributesA(path_of("notempty.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_DAMAGED);
    expect_folder_holds({"empty.ini", "EXCELLIBINFO.DAT"});
}

TEST_F(TextInstall, NamesReachingOutsideTheFolderAreNeverRequestedOrWritten)
{
    std::string bytes = make_bytes(200, 9);
    remove_tree("C:\\evil.dll");
    prepare(
        record_for("..\\evil.dll", bytes) + TEXT_RECORD_SEPARATOR + record_for("ok.dll", bytes),
        {{"..\\evil.dll", bytes, text_file_rule::SERVE}, {"ok.dll", bytes, text_file_rule::SERVE}});
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_NEW);
    EXPECT_EQ(install(), 1);
    EXPECT_FALSE(path_exists("C:\\evil.dll"));
    EXPECT_EQ(file_requests(), std::vector<std::string>{"ok.dll"});
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_BAD_NAME);
    EXPECT_STREQ(report.failed_names[0], "..\\evil.dll");
}

TEST_F(TextInstall, ATargetHeldOpenIsReportedInUseAndKept)
{
    std::string bytes = make_bytes(4000, 10);
    write_whole_file(path_of("held.xla").c_str(), "old");
    prepare(record_for("held.xla", bytes), {{"held.xla", bytes, text_file_rule::SERVE}});
    HANDLE held = CreateFileA(path_of("held.xla").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(install(), 0);
    CloseHandle(held);
    EXPECT_EQ(read_whole_file(path_of("held.xla").c_str()), "old");
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_CHANGED);
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_IN_USE);
    expect_folder_holds({"held.xla", "EXCELLIBINFO.DAT"});
}

TEST_F(TextInstall, AnAllMatchListTransfersNothingButRewritesTheLedger)
{
    std::string a = make_bytes(700, 11);
    write_whole_file(path_of("a.dll").c_str(), a);
    write_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT", "stale ledger that is longer than the new");
    // The second record lacks its time fields: they are written as empty texts.
    std::string b = make_bytes(20, 12);
    write_whole_file(path_of("b.dll").c_str(), b);
    std::string short_record = "b.dll^|" + std::to_string(crc_of(b)) + "^|20";
    prepare(record_for("a.dll", a, "1", "2") + TEXT_RECORD_SEPARATOR + short_record, {});
    EXPECT_EQ(install(), 0);
    EXPECT_TRUE(file_requests().empty());
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT"),
              "a.dll^|" + std::to_string(crc_of(a)) + "^|700^|1^|2\r\n" + short_record +
                  "^|^|\r\n");
}

TEST_F(TextInstall, NothingHappensWithoutRows)
{
    write_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT", "kept");
    start_text_peer(&peer, text_file_server("", {}));
    point_client_at(peer.port);
    ASSERT_EQ(open_text_channel(), CHANNEL_OPEN);
    EXPECT_EQ(install(), 0);
    EXPECT_EQ(report.failed, 0);
    EXPECT_EQ(read_whole_file(LIBRARY_FOLDER "EXCELLIBINFO.DAT"), "kept");
}

// The refresh's connection is gone (server restarted, a reopen that failed): the pass opens
// its own, and when that fails every waiting row says so instead of "nothing to upgrade".
TEST_F(TextInstall, APassWithoutAChannelOpensOneOrFailsEveryWaitingRow)
{
    std::string a = make_bytes(3000, 20), b = make_bytes(200, 21);
    write_whole_file(path_of("b.dll").c_str(), b);
    prepare(record_for("a.dll", a) + TEXT_RECORD_SEPARATOR + record_for("b.dll", b),
            {{"a.dll", a, text_file_rule::SERVE}});
    close_text_channel();
    stop_text_peer(&peer);  // the port now refuses
    EXPECT_EQ(install(), 0);
    ASSERT_EQ(report.failed, 1);
    EXPECT_STREQ(report.failed_names[0], "a.dll");
    EXPECT_EQ(report.failed_reasons[0], INSTALL_NO_CONNECTION);

    text_peer restarted;
    start_text_peer(&restarted, text_file_server("", {{"a.dll", a, text_file_rule::SERVE}}));
    point_client_at(restarted.port);
    EXPECT_EQ(install(), 1);
    EXPECT_EQ(report.failed, 0);
    EXPECT_EQ(read_whole_file(path_of("a.dll").c_str()), a);
    close_text_channel();
    stop_text_peer(&restarted);
}

TEST_F(TextInstall, AFileThatCannotBeWrittenIsReadPastSoTheNextAnswerIsInStep)
{
    std::string first = make_bytes(9000, 13), second = make_bytes(3000, 14);
    prepare(record_for("first.dll", first), {{"first.dll", first, text_file_rule::SERVE},
                                             {"second.dll", second, text_file_rule::SERVE}});
    // A folder text naming a plain file: nothing can be staged there.
    write_whole_file(LIBRARY_FOLDER "plain", "x");
    int failure = INSTALL_OK;
    EXPECT_EQ(download_file_text(g_channel_socket, LIBRARY_FOLDER "plain", "first.dll", nullptr,
                                 nullptr, &failure),
              0);
    EXPECT_EQ(failure, INSTALL_LOCAL_ERROR);
    transfer_check check = {1, 3000, 1, crc_of(second)};
    EXPECT_EQ(download_file_text(g_channel_socket, INSTALL_FOLDER_TEXT, "second.dll", nullptr,
                                 &check, &failure),
              3000);
    EXPECT_EQ(read_whole_file(path_of("second.dll").c_str()), second);
}

// A server may send the file right behind the answer's NUL, or pad the answer with NULs and
// send the file later. Both install; where the bytes behind the NUL are zeros either way,
// the catalogue's CRC-32 decides, for .xls too, and a file neither reading explains is
// refused with the old one kept.
TEST_F(TextInstall, PaddedAnswersAndDataRightBehindTheNulBothInstall)
{
    std::string kickoff = make_bytes(30000, 22), leading_zeros = make_bytes(5000, 23),
                padded_zeros = make_bytes(3000, 24), wrong = make_bytes(2000, 25),
                after = make_bytes(1500, 26);
    kickoff[0] = 'K';
    leading_zeros.replace(0, 300, 300, '\0');
    padded_zeros[0] = 'P';
    std::string old_wrong = make_bytes(1999, 27);
    write_whole_file(path_of("Kickoff.xls").c_str(), make_bytes(29000, 28));
    write_whole_file(path_of("wrong.xls").c_str(), old_wrong);
    std::string served_wrong = wrong;
    served_wrong[0] = 'W';
    prepare(record_for("Kickoff.xls", kickoff) + TEXT_RECORD_SEPARATOR +
                record_for("zeros.dll", leading_zeros) + TEXT_RECORD_SEPARATOR +
                record_for("padded.xla", padded_zeros) + TEXT_RECORD_SEPARATOR +
                record_for("wrong.xls", wrong) + TEXT_RECORD_SEPARATOR +
                record_for("after.dll", after),
            {{"Kickoff.xls", kickoff, text_file_rule::PADDED},
             {"zeros.dll", leading_zeros, text_file_rule::SERVE},
             {"padded.xla", padded_zeros, text_file_rule::PADDED},
             {"wrong.xls", served_wrong, text_file_rule::PADDED},
             {"after.dll", after, text_file_rule::PADDED}});
    ASSERT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_CHANGED);
    EXPECT_EQ(install(), 4);
    EXPECT_EQ(read_whole_file(path_of("Kickoff.xls").c_str()), kickoff);
    EXPECT_EQ(read_whole_file(path_of("zeros.dll").c_str()), leading_zeros);
    EXPECT_EQ(read_whole_file(path_of("padded.xla").c_str()), padded_zeros);
    EXPECT_EQ(read_whole_file(path_of("wrong.xls").c_str()), old_wrong);
    EXPECT_EQ(read_whole_file(path_of("after.dll").c_str()), after);
    EXPECT_EQ(cell(window, 3, COLUMN_STATUS), TEXT_STATUS_CHANGED);
    ASSERT_EQ(report.failed, 1);
    EXPECT_STREQ(report.failed_names[0], "wrong.xls");
    EXPECT_EQ(report.failed_reasons[0], INSTALL_DAMAGED);
    expect_folder_holds(
        {"Kickoff.xls", "zeros.dll", "padded.xla", "wrong.xls", "after.dll", "EXCELLIBINFO.DAT"});
}

// The refresh leaves the connection open; an idle limit, a NAT or a firewall may drop it
// before Download. The first file is tried again on a fresh connection instead of failing.
TEST_F(TextInstall, AConnectionDroppedWhileIdleIsReopenedForTheFirstFile)
{
    std::string a = make_bytes(4000, 29), b = make_bytes(500, 30);
    peer.drop_connections = 1;
    prepare(record_for("a.dll", a) + TEXT_RECORD_SEPARATOR + record_for("b.dll", b),
            {{"a.dll", a, text_file_rule::SERVE}, {"b.dll", b, text_file_rule::SERVE}});
    EXPECT_EQ(install(), 2);
    EXPECT_EQ(report.failed, 0);
    EXPECT_EQ(read_whole_file(path_of("a.dll").c_str()), a);
    EXPECT_EQ(peer.accepted, 2);
}

// Bytes a server sends after an answer the client cannot use must not be read as the next
// answer: the connection is replaced.
TEST_F(TextInstall, AShortAnswerFollowedByDataCostsTheConnectionNotTheNextFile)
{
    std::string junk = make_bytes(100000, 31), next = make_bytes(800, 32);
    prepare(record_for("short.dll", junk) + TEXT_RECORD_SEPARATOR + record_for("next.dll", next),
            {{"short.dll", junk, text_file_rule::SHORT_THEN_DATA},
             {"next.dll", next, text_file_rule::SERVE}});
    EXPECT_EQ(install(), 1);
    EXPECT_EQ(read_whole_file(path_of("next.dll").c_str()), next);
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_REFUSED);
    EXPECT_EQ(peer.accepted, 2);
}

// Windows opens device names as devices and drops a trailing dot or blank, so "a.dll." would
// be "a.dll": such names are refused, never requested, and shown as New.
TEST_F(TextInstall, DeviceNamesAndNamesEndingInADotOrBlankAreRefused)
{
    std::string bytes = make_bytes(600, 33);
    write_whole_file(path_of("a.dll").c_str(), bytes);
    const char *bad[] = {"a.dll.", "a.dll ", "CON.xls", "lpt1", "Com9.dll", "nul"};
    std::string catalogue = record_for("a.dll", bytes);
    std::vector<text_file_rule> rules;
    for (const char *name : bad) {
        catalogue += TEXT_RECORD_SEPARATOR + record_for(name, bytes);
        rules.push_back({name, bytes, text_file_rule::SERVE});
    }
    prepare(catalogue, rules);
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_MATCH);
    for (int row = 1; row <= 6; ++row)
        EXPECT_EQ(cell(window, row, COLUMN_STATUS), TEXT_STATUS_NEW) << bad[row - 1];
    EXPECT_EQ(install(), 0);
    EXPECT_TRUE(file_requests().empty());
    ASSERT_EQ(report.failed, 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(report.failed_reasons[i], INSTALL_BAD_NAME) << bad[i];
}

// "C:\TervalenWyndale\" and the name must fit 259 characters. The longest such name installs;
// one byte more is refused by the comparison and the installer alike, never cut to the
// name of another file.
TEST_F(TextInstall, TheLongestNameInstallsAndOneByteMoreIsRefusedNotCut)
{
    std::string longest(240, 'a'), other(240, 'b'), too_long = other + "c";
    std::string bytes = make_bytes(700, 34), held = make_bytes(900, 35);
    write_whole_file(path_of(other).c_str(), held);
    prepare(record_for(longest, bytes) + TEXT_RECORD_SEPARATOR + record_for(too_long, held),
            {{longest, bytes, text_file_rule::SERVE}, {too_long, held, text_file_rule::SERVE}});
    EXPECT_EQ(cell(window, 1, COLUMN_STATUS), TEXT_STATUS_NEW);
    EXPECT_EQ(cell(window, 1, COLUMN_LOCAL_SIZE), "");
    EXPECT_EQ(install(), 1);
    EXPECT_EQ(read_whole_file(path_of(longest).c_str()), bytes);
    EXPECT_EQ(file_requests(), std::vector<std::string>{longest});
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_BAD_NAME);
    EXPECT_EQ(cell(window, 1, COLUMN_STATUS), TEXT_STATUS_NEW);
}

// A killed run leaves its staging files; the next pass removes ours and nothing else, and
// only when no other instance installs: then the pass stages nothing and says why. Ours are
// hidden and of our name shapes; a visible file is the library's whatever its name.
TEST_F(TextInstall, LeftoverStagingFilesAreRemovedUnlessAnotherInstanceInstalls)
{
    std::string a = make_bytes(1000, 36);
    const char *ours[] = {"pvs1A2B.tmp", "pvl7.tmp", "pvs0123ABCD.tmp", "pvl1.tmp"};
    const char *kept[] = {"pvsnote.tmp", "pvs12.tmp", "notes.tmp", "pvl2.tmp", "pvs0123ABCE.tmp"};
    const char *kept_hidden[] = {"pvs12345.tmp", "pvs123456789.tmp"};
    for (const char *name : ours) {
        write_whole_file(path_of(name).c_str(), "left by a killed run");
        SetFileAttributesA(path_of(name).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    for (const char *name : kept)
        write_whole_file(path_of(name).c_str(), "the user's");
    for (const char *name : kept_hidden) {
        write_whole_file(path_of(name).c_str(), "the user's, hidden");
        SetFileAttributesA(path_of(name).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    prepare(record_for("a.dll", a), {{"a.dll", a, text_file_rule::SERVE}});

    // Another instance installing: its lock is held elsewhere (here by another thread).
    HANDLE taken = nullptr;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE hold = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&]() {
        taken = take_install_lock();
        SetEvent(ready);
        WaitForSingleObject(hold, INFINITE);
        release_install_lock(taken);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(take_install_lock(), nullptr);
    EXPECT_EQ(install(), 0);
    int failed = report.failed, reason = report.failed_reasons[0];
    bool kept_while_locked = path_exists(path_of("pvs1A2B.tmp").c_str());
    SetEvent(hold);
    other.join();
    CloseHandle(hold);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(reason, INSTALL_LOCKED);
    EXPECT_TRUE(file_requests().empty());
    EXPECT_TRUE(kept_while_locked);

    EXPECT_EQ(install(), 1);
    for (const char *name : ours)
        EXPECT_FALSE(path_exists(path_of(name).c_str())) << name;
    for (const char *name : kept)
        EXPECT_TRUE(path_exists(path_of(name).c_str())) << name;
    for (const char *name : kept_hidden)
        EXPECT_TRUE(path_exists(path_of(name).c_str())) << name;
}

// A junction in place of the folder would carry the cleanup's deletes (run as SYSTEM, they
// reach any file) and the writes elsewhere: both refuse it and touch nothing behind it.
TEST(StagingLeftovers, AJunctionInPlaceOfTheFolderIsRefused)
{
    const std::string target = "C:\\pvs-junction-target", link = "C:\\pvs-junction";
    RemoveDirectoryA(link.c_str());  // a junction left by an earlier run: the link alone
    remove_tree(target.c_str());
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    std::string planted = target + "\\pvs1234ABCD.tmp";
    ASSERT_TRUE(write_whole_file(planted, "another account's file"));
    SetFileAttributesA(planted.c_str(), FILE_ATTRIBUTE_HIDDEN);
    if (!make_junction(link, target)) {
        remove_tree(target.c_str());
        GTEST_SKIP() << "this system cannot make a junction (Wine 8 cannot)";
    }
    EXPECT_EQ(remove_staging_leftovers(link.c_str()), STAGING_FOLDER_REFUSED);
    EXPECT_TRUE(path_exists(planted.c_str()));
    staged_file staged;
    EXPECT_EQ(staged_file_begin(&staged, (link + "\\a.dll").c_str()), 0);
    RemoveDirectoryA(link.c_str());
    EXPECT_EQ(remove_staging_leftovers(target.c_str()), 1) << "in a real folder it is a leftover";
    remove_tree(target.c_str());
}

// A server that keeps a file coming a byte at a time never trips a receive's time-out: the
// rate bound abandons it with its own reason, the old file stays, and the next file comes
// over a fresh connection.
TEST_F(TextInstall, ATricklingServerIsAbandonedBelowTheMinimumRate)
{
    rate_bound_for_test bound(1000, 1000);
    std::string slow = make_bytes(3000, 40), good = make_bytes(1500, 41);
    write_whole_file(path_of("slow.dll").c_str(), "old");
    prepare(
        record_for("slow.dll", slow) + TEXT_RECORD_SEPARATOR + record_for("good.dll", good),
        {{"slow.dll", slow, text_file_rule::TRICKLE}, {"good.dll", good, text_file_rule::SERVE}});
    EXPECT_EQ(install(), 1);
    ASSERT_EQ(report.failed, 1);
    EXPECT_STREQ(report.failed_names[0], "slow.dll");
    EXPECT_EQ(report.failed_reasons[0], INSTALL_TOO_SLOW);
    EXPECT_EQ(read_whole_file(path_of("slow.dll").c_str()), "old");
    EXPECT_EQ(read_whole_file(path_of("good.dll").c_str()), good);
    EXPECT_EQ(cell(window, 0, COLUMN_STATUS), TEXT_STATUS_CHANGED);
    expect_folder_holds({"slow.dll", "good.dll", "EXCELLIBINFO.DAT"});
}

// A kill at any moment must leave nothing visible behind: every staging file (the file's,
// then the ledger's) is hidden from the moment it exists, looked at while the server holds
// the transfer back. Wine, unlike Windows, creates a file and writes its hidden mark in two
// steps; so under Wine alone the first sighting of a name may come unmarked, provided the
// mark follows within a few milliseconds (or the file is gone by then: a ledger's staging
// lives for less).
TEST_F(TextInstall, AStagingFileIsHiddenFromItsFirstMoment)
{
    rate_bound_for_test unbounded(0, 0);
    peer.trickle_ms = 100;
    std::string a = make_bytes(20, 42);
    prepare(record_for("a.dll", a), {{"a.dll", a, text_file_rule::TRICKLE}});
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    std::vector<DWORD> seen;  // the attributes of every sighting of a staging file
    std::set<std::string> names;
    std::atomic<bool> done{false};
    std::thread watch([&]() {
        while (!done) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA(LIBRARY_FOLDER "pvs*.tmp", &found);
            if (search != INVALID_HANDLE_VALUE) {
                FindClose(search);
                DWORD attributes = found.dwFileAttributes;
                bool first = names.insert(found.cFileName).second;
                for (int look = 0;
                     wine && first && !(attributes & FILE_ATTRIBUTE_HIDDEN) && look < 20; look++) {
                    Sleep(1);
                    attributes = GetFileAttributesA(path_of(found.cFileName).c_str());
                }
                if (attributes != INVALID_FILE_ATTRIBUTES)  // gone by the second look
                    seen.push_back(attributes);
            }
            Sleep(1);
        }
    });
    EXPECT_EQ(install(), 1);
    done = true;
    watch.join();
    ASSERT_FALSE(seen.empty());
    for (DWORD attributes : seen)
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << std::hex << attributes;
    EXPECT_EQ(read_whole_file(path_of("a.dll").c_str()), a);
    EXPECT_EQ(GetFileAttributesA(path_of("a.dll").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(GetFileAttributesA(LIBRARY_FOLDER "EXCELLIBINFO.DAT") & FILE_ATTRIBUTE_HIDDEN, 0u);
    expect_folder_holds({"a.dll", "EXCELLIBINFO.DAT"});
}

// A read-only target is not "in use": the user must clear its mark, not close a program.
TEST_F(TextInstall, AReadOnlyTargetIsReportedAsSuchAndKept)
{
    std::string bytes = make_bytes(2000, 37);
    write_whole_file(path_of("locked.dll").c_str(), "old");
    SetFileAttributesA(path_of("locked.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    prepare(record_for("locked.dll", bytes), {{"locked.dll", bytes, text_file_rule::SERVE}});
    EXPECT_EQ(install(), 0);
    EXPECT_EQ(read_whole_file(path_of("locked.dll").c_str()), "old");
    ASSERT_EQ(report.failed, 1);
    EXPECT_EQ(report.failed_reasons[0], INSTALL_READ_ONLY);
    expect_folder_holds({"locked.dll", "EXCELLIBINFO.DAT"});
}

// A full disk mid-download: the old file stays, the staged one goes, the reason is a write
// failure. Needs a small volume, so it runs only when PAVOSET_SMALL_FOLDER names a folder on
// one: ./run test mounts a 1 MiB tmpfs for it where it can (as root).
TEST_F(TextInstall, AFullDiskKeepsTheOldFileAndRemovesTheStagedOne)
{
    std::string folder = env_text("PAVOSET_SMALL_FOLDER");
    if (folder.empty())
        GTEST_SKIP() << "PAVOSET_SMALL_FOLDER not set";
    std::string target = folder + "\\big.dll";
    ASSERT_TRUE(write_whole_file(target.c_str(), "old")) << target << " " << GetLastError();
    std::string bytes = make_bytes(4 << 20, 38);
    prepare(record_for("big.dll", bytes), {{"big.dll", bytes, text_file_rule::SERVE}});
    transfer_check check = {1, (uint32_t)bytes.size(), 1, crc_of(bytes)};
    int failure = INSTALL_OK;
    EXPECT_EQ(
        download_file_text(g_channel_socket, folder.c_str(), "big.dll", nullptr, &check, &failure),
        0);
    EXPECT_EQ(failure, INSTALL_LOCAL_ERROR);
    EXPECT_EQ(read_whole_file(target.c_str()), "old");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "left: " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    DeleteFileA(target.c_str());
}

}  // namespace
