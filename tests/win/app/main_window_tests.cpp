// The main window and its install worker, run in this process against the scripted text
// server on 127.0.0.1. Message boxes are read and answered by the box watcher's thread.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/background_retrieval.h"
#include "app/main_window.h"
#include "box_watcher.h"
#include "catalogue/catalogue.h"
#include "catalogue/folder_comparison.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "core/text_protocol.h"
#include "net/framed/framed_session.h"
#include "net/net_timeouts.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "peer_sockets.h"
#include "res/texts.h"
#include "settings/registry_store.h"
#include "settings_registry.h"
#include "test_files.h"
#include "text_peer.h"

namespace {

const char FOLDER[] = LIBRARY_FOLDER;

// The answer to the catalogue request, and a rule serving each file, for files in name order.
std::string catalogue_answer(const std::map<std::string, std::string> &files)
{
    std::string answer = TEXT_ANSWER_OK;
    bool first = true;
    for (auto &file : files) {
        if (!first)
            answer += TEXT_RECORD_SEPARATOR;
        first = false;
        answer += record_for(file.first, file.second);
    }
    answer.push_back('\0');
    return answer;
}

std::vector<text_file_rule> serving_rules(const std::map<std::string, std::string> &files)
{
    std::vector<text_file_rule> rules;
    for (auto &file : files)
        rules.push_back({file.first, file.second, text_file_rule::SERVE});
    return rules;
}

// ---------------------------------------------------------------- window helpers

bool pump_until(HWND main, const std::function<bool()> &done, int timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsWindow(main) || !IsDialogMessageA(main, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (done())
            return true;
        if ((int)(GetTickCount() - start) > timeout_ms)
            return false;
        Sleep(10);
    }
}

std::string cell(HWND main, int row, int column)
{
    char text[260] = {0};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(GetDlgItem(main, ID_LIBRARY_LIST), LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return text;
}

int rows(HWND main)
{
    return (int)SendMessageA(GetDlgItem(main, ID_LIBRARY_LIST), LVM_GETITEMCOUNT, 0, 0);
}

std::string control_text(HWND main, int id)
{
    char text[1024] = {0};
    GetDlgItemTextA(main, id, text, sizeof text);
    return text;
}

bool settings_item_enabled(HWND main)
{
    UINT state = GetMenuState(GetMenu(main), ID_MENU_SERVER_SETTINGS, MF_BYCOMMAND);
    return state != (UINT)-1 && !(state & (MF_GRAYED | MF_DISABLED));
}

std::string installed(const char *name)
{
    return read_whole_file(std::string(FOLDER) + name);
}

class MainWindow : public ::testing::Test {
protected:
    registry_guard guard;
    box_watcher watcher;
    HWND main = nullptr;
    std::vector<std::string> created;
    std::string ledger_before;

    void SetUp() override
    {
        WSADATA winsock;
        ASSERT_EQ(0, WSAStartup(0x0101, &winsock));
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        g_instance = GetModuleHandleA(nullptr);
        g_net_timeouts.text_ms = 1000;
        g_net_timeouts.connect_retry_ms = 50;
        g_net_timeouts.datagram_ms = 200;
        g_net_timeouts.datagram_tries = 2;
        g_cmdline_address_flag = 0;
        g_cmdline_host[0] = 0;
        g_first_install_marker = 0;
        g_installed_count = 0;
        g_protocol_preference = PROTOCOL_TEXT;
        write_setting("IsPlimo", "1");
        CreateDirectoryA(FOLDER, nullptr);
        ledger_before = installed("EXCELLIBINFO.DAT");
        start_box_watcher(&watcher);
    }

    void TearDown() override
    {
        if (main && IsWindow(main))
            DestroyWindow(main);
        stop_box_watcher(&watcher);
        for (auto &name : created)
            DeleteFileA((FOLDER + name).c_str());
        std::string ledger = std::string(FOLDER) + "EXCELLIBINFO.DAT";
        if (ledger_before.empty()) {
            DeleteFileA(ledger.c_str());
        } else {
            write_whole_file(ledger, ledger_before);
        }
        WSACleanup();
    }

    void open_window(unsigned short port)
    {
        main = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(MAIN_DIALOG_ID), nullptr,
                                  main_window_proc, 0);
        ASSERT_NE(nullptr, main);
        watcher.main = main;
        // Creation resolved the address from this machine's settings; the refresh has not
        // run yet (it waits for the timer), so point it at the scripted server now.
        point_client_at(port);
    }

    std::vector<seen_box> boxes() { return boxes_seen(&watcher); }

    bool press_download_and_wait()
    {
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(ID_DOWNLOAD_BUTTON, BN_CLICKED), 0);
        return pump_until(
            main, [&] { return !g_worker_running && settings_item_enabled(main); }, 20000);
    }
};

TEST_F(MainWindow, RefreshInstallFailuresAndClosing)
{
    std::map<std::string, std::string> files;
    files["AppTestA.xla"] = make_bytes(3000, 1);
    files["AppTestB.dll"] = make_bytes(70000, 2);
    files["AppTestC.xls"] = make_bytes(5000, 3);
    created = {"AppTestA.xla", "AppTestB.dll", "AppTestC.xls"};
    for (auto &name : created)
        DeleteFileA((FOLDER + name).c_str());
    text_peer peer;
    peer.refused.insert("AppTestC.xls");
    peer.data_pause_ms = 60 + 400;  // long enough to act while the worker runs
    start_text_peer(&peer, text_file_server(catalogue_answer(files), serving_rules(files)));
    open_window(peer.port);

    // The refresh fills one row per file, all New: a first installation.
    ASSERT_TRUE(pump_until(
        main, [&] { return rows(main) == 3; }, 10000));
    EXPECT_EQ("1", cell(main, 0, COLUMN_NUMBER));
    EXPECT_EQ("AppTestA.xla", cell(main, 0, COLUMN_NAME));
    EXPECT_EQ("AppTestC.xls", cell(main, 2, COLUMN_NAME));
    EXPECT_EQ("3000", cell(main, 0, COLUMN_SIZE));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(TEXT_STATUS_NEW, cell(main, i, COLUMN_STATUS));
    EXPECT_EQ(FIRST_INSTALL_MARK, g_first_install_marker);
    EXPECT_TRUE(settings_item_enabled(main));

    // While the worker runs: Download and the settings item are off, closing is refused.
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(ID_DOWNLOAD_BUTTON, BN_CLICKED), 0);
    EXPECT_EQ(1, g_worker_running);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, ID_DOWNLOAD_BUTTON)));
    EXPECT_FALSE(settings_item_enabled(main));
    SendMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(main));
    ASSERT_TRUE(pump_until(
        main, [&] { return !g_worker_running && settings_item_enabled(main); }, 20000));
    auto seen = boxes();
    ASSERT_GE(seen.size(), 1u);
    EXPECT_EQ("Pavoset.exe", seen[0].caption);
    EXPECT_EQ(TEXT_STILL_INSTALLING, seen[0].text);

    // A refused file is named with its reason; the others are installed whole.
    char head[96];
    snprintf(head, sizeof head, TEXT_COMPLETION_FAILED_FORMAT, 2, 1);
    EXPECT_EQ(std::string(head) + " AppTestC.xls(" TEXT_REASON_REFUSED ")",
              control_text(main, ID_MESSAGE_LINE));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, ID_DOWNLOAD_BUTTON)));
    EXPECT_EQ(files["AppTestA.xla"], installed("AppTestA.xla"));
    EXPECT_EQ(files["AppTestB.dll"], installed("AppTestB.dll"));
    EXPECT_EQ(TEXT_STATUS_MATCH, cell(main, 1, COLUMN_STATUS));
    EXPECT_EQ(TEXT_STATUS_NEW, cell(main, 2, COLUMN_STATUS));
    EXPECT_EQ(2, g_installed_count);

    // Once the server serves it, the next run installs only that one and claims success.
    {
        std::lock_guard<std::mutex> hold(peer.lock);
        peer.refused.clear();
        peer.data_pause_ms = 60;  // no longer slow; each file still follows its answer apart
    }
    ASSERT_TRUE(press_download_and_wait());
    EXPECT_EQ(TEXT_COMPLETION, control_text(main, ID_MESSAGE_LINE));
    EXPECT_EQ(files["AppTestC.xls"], installed("AppTestC.xls"));
    EXPECT_EQ(3, g_installed_count);

    // Nothing left: the box, and the message line keeps its text.
    size_t before = boxes().size();
    ASSERT_TRUE(press_download_and_wait());
    ASSERT_TRUE(pump_until(
        main, [&] { return boxes().size() > before; }, 5000));
    EXPECT_EQ(TEXT_NOTHING_TO_UPGRADE, boxes()[before].text);
    EXPECT_EQ("Pavoset.exe", boxes()[before].caption);
    EXPECT_EQ(TEXT_COMPLETION, control_text(main, ID_MESSAGE_LINE));

    // Closing after a first installation asks about the workbook (answered No here).
    before = boxes().size();
    SendMessageA(main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pump_until(
        main, [&] { return !IsWindow(main); }, 5000));
    ASSERT_EQ(before + 1, boxes().size());
    EXPECT_EQ(TEXT_CLOSING_CAPTION, boxes()[before].caption);
    EXPECT_NE(std::string::npos, boxes()[before].text.find(TEXT_CLOSING_QUESTION));
    EXPECT_EQ((SOCKET)0, g_channel_socket);
    EXPECT_EQ(nullptr, g_receive_buffer);
}

TEST_F(MainWindow, NoServerLeavesAnEmptyListAndAsksNothingOnClosing)
{
    open_window(unused_port());
    ASSERT_TRUE(pump_until(
        main, [&] { return !boxes().empty(); }, 20000));
    EXPECT_EQ(TEXT_ERROR_CAPTION, boxes()[0].caption);
    EXPECT_EQ(TEXT_COMMUNICATION_FAILURE, boxes()[0].text);
    EXPECT_EQ(0, rows(main));
    EXPECT_EQ(0, g_catalogue_count);

    // Download on an empty list finds nothing to do; closing asks nothing.
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(ID_DOWNLOAD_BUTTON, BN_CLICKED), 0);
    ASSERT_TRUE(pump_until(
        main, [&] { return !g_worker_running && boxes().size() == 2; }, 10000));
    EXPECT_EQ(TEXT_NOTHING_TO_UPGRADE, boxes()[1].text);
    SendMessageA(main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pump_until(
        main, [&] { return !IsWindow(main); }, 5000));
    EXPECT_EQ(2u, boxes().size());
}

TEST_F(MainWindow, ClosingDuringTheRetrievalLeavesNothingBehind)
{
    // Nothing listens: the retrieval waits out its tries on its own thread.
    write_setting("IsPlimo", "0");
    open_window(unused_port());
    ASSERT_TRUE(pump_until(
        main, [&] { return retrieval_in_flight() != 0; }, 5000));
    // Meanwhile the window answers, and neither Download nor settings can touch the state.
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, ID_DOWNLOAD_BUTTON)));
    EXPECT_FALSE(settings_item_enabled(main));
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(ID_DOWNLOAD_BUTTON, BN_CLICKED), 0);
    EXPECT_EQ(0, g_worker_running);
    ASSERT_TRUE(pump_until(
        main,
        [&] {
            return control_text(main, ID_MESSAGE_LINE).find(TEXT_PROTOCOL_FRAMED) !=
                   std::string::npos;
        },
        5000))
        << control_text(main, ID_MESSAGE_LINE);

    DestroyWindow(main);
    main = nullptr;
    ASSERT_TRUE(wait_for_retrieval_end(10000));
    // The abandoned retrieval let go of everything itself and told no one.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    EXPECT_EQ(0, retrieval_in_flight());
    EXPECT_EQ((SOCKET)0, g_channel_socket);
    EXPECT_EQ(nullptr, g_framed_session);
    EXPECT_EQ(nullptr, g_receive_buffer);
    EXPECT_EQ(0, g_catalogue_count);
    Sleep(300);
    EXPECT_TRUE(boxes().empty());
    write_setting("IsPlimo", "1");
}

// The comparison with the install folder, held at its first row until the test lets it go.
HANDLE g_comparison_begun = nullptr;
HANDLE g_comparison_released = nullptr;
DWORD g_comparison_thread = 0;
volatile LONG g_hold_ran_out = 0;

void hold_first_row(int row)
{
    if (row != 0)
        return;
    g_comparison_thread = GetCurrentThreadId();
    SetEvent(g_comparison_begun);
    if (WaitForSingleObject(g_comparison_released, 20000) != WAIT_OBJECT_0)
        InterlockedExchange(&g_hold_ran_out, 1);
}

DWORD WINAPI send_null_message(LPVOID window)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA((HWND)window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &answer) != 0;
}

// While the installed files are compared (with a publisher key, every one hashed) the window
// answers: the comparison runs on the retrieval's thread, and the rows come when it ends.
TEST_F(MainWindow, TheWindowAnswersWhileTheFolderIsCompared)
{
    std::map<std::string, std::string> files;
    files["AppCmpA.dll"] = make_bytes(4000, 11);
    files["AppCmpB.dll"] = make_bytes(5000, 12);
    files["AppCmpC.dll"] = make_bytes(6000, 13);
    created = {"AppCmpA.dll", "AppCmpB.dll", "AppCmpC.dll"};
    DeleteFileA((FOLDER + created[0]).c_str());
    ASSERT_TRUE(write_whole_file(FOLDER + created[1], make_bytes(5000, 99)));
    ASSERT_TRUE(write_whole_file(FOLDER + created[2], files["AppCmpC.dll"]));
    text_peer peer;
    start_text_peer(&peer, text_file_server(catalogue_answer(files), serving_rules(files)));

    g_comparison_begun = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_comparison_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_hold_ran_out = 0;
    g_row_comparison_hook = hold_first_row;
    open_window(peer.port);
    bool begun = pump_until(
        main, [&] { return WaitForSingleObject(g_comparison_begun, 0) == WAIT_OBJECT_0; }, 10000);
    // Another thread's message is answered only by this thread's pumping, the window's.
    HANDLE sender = CreateThread(nullptr, 0, send_null_message, main, 0, nullptr);
    bool answered =
        begun && pump_until(
                     main, [&] { return WaitForSingleObject(sender, 0) == WAIT_OBJECT_0; }, 10000);
    DWORD sent = 0;
    GetExitCodeThread(sender, &sent);
    int rows_while_held = rows(main);
    bool download_while_held = IsWindowEnabled(GetDlgItem(main, ID_DOWNLOAD_BUTTON)) != 0;
    SetEvent(g_comparison_released);
    bool filled = pump_until(
        main, [&] { return rows(main) == 3; }, 10000);
    g_row_comparison_hook = nullptr;
    WaitForSingleObject(sender, 20000);
    CloseHandle(sender);
    CloseHandle(g_comparison_begun);
    CloseHandle(g_comparison_released);

    ASSERT_TRUE(begun);
    EXPECT_TRUE(answered);
    EXPECT_EQ(1u, sent) << "the message sent meanwhile was answered";
    EXPECT_EQ(0, g_hold_ran_out) << "the comparison held the window's thread";
    EXPECT_NE(GetWindowThreadProcessId(main, nullptr), g_comparison_thread);
    EXPECT_EQ(0, rows_while_held);
    EXPECT_FALSE(download_while_held);
    ASSERT_TRUE(filled);
    EXPECT_EQ(TEXT_STATUS_NEW, cell(main, 0, COLUMN_STATUS));
    EXPECT_EQ("", cell(main, 0, COLUMN_LOCAL_SIZE));
    EXPECT_EQ(TEXT_STATUS_CHANGED, cell(main, 1, COLUMN_STATUS));
    EXPECT_EQ("5000", cell(main, 1, COLUMN_LOCAL_SIZE));
    EXPECT_EQ(TEXT_STATUS_MATCH, cell(main, 2, COLUMN_STATUS));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, ID_DOWNLOAD_BUTTON)));
    EXPECT_EQ(0, g_first_install_marker);
}

TEST_F(MainWindow, IpOptionShowsInTheTitleAndNamesTheHost)
{
    write_setting("ip", "10.20.30.40");
    write_setting("port", "6222");
    g_cmdline_address_flag = 1;
    strcpy(g_cmdline_host, " 127.0.0.1");
    main = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(MAIN_DIALOG_ID), nullptr,
                              main_window_proc, 0);
    ASSERT_NE(nullptr, main);
    watcher.main = main;
    char title[512] = {0};
    GetWindowTextA(main, title, sizeof title);
    std::string shown = title;
    EXPECT_EQ(TEXT_MAIN_CAPTION "( 127.0.0.1)", shown);
    EXPECT_STREQ("127.0.0.1", g_server_address.host);
    EXPECT_EQ(6222, g_server_address.port);
    // Gone before its refresh timer fires: no exchange with whatever listens there.
    DestroyWindow(main);
    main = nullptr;
    g_cmdline_address_flag = 0;
}

}  // namespace
