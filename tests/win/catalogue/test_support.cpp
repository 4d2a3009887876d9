#include "test_support.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include "app/catalogue_rows.h"
#include "catalogue/catalogue.h"
#include "catalogue/folder_comparison.h"
#include "catalogue/local_comparison.h"
#include "core/field_split.h"
#include "net/net_timeouts.h"
#include "net/text/text_channel.h"
#include "res/resource.h"

// ---------------------------------------------------------------- process set-up

namespace {
struct catalogue_environment : testing::Environment {
    void SetUp() override
    {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        INITCOMMONCONTROLSEX controls = {sizeof controls,
                                         ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        g_socket_mutex = CreateMutexA(nullptr, FALSE, nullptr);
        // Faulty peers are found out in well under a second on loopback.
        g_net_timeouts.text_ms = 800;
        g_net_timeouts.connect_retry_ms = 50;
        g_net_timeouts.datagram_ms = 800;
        g_net_timeouts.datagram_tries = 2;
        g_net_timeouts.file_connect_ms = 800;
        g_net_timeouts.file_receive_ms = 800;
        g_receive_buffer = (char *)calloc(RECEIVE_BUFFER_SIZE, 1);
    }
    void TearDown() override
    {
        close_text_channel();
        free(g_receive_buffer);
        g_receive_buffer = nullptr;
        WSACleanup();
    }
};
testing::Environment *const g_environment =
    testing::AddGlobalTestEnvironment(new catalogue_environment);
}  // namespace

// ---------------------------------------------------------------- install folder

void reset_install_folder()
{
    remove_tree(INSTALL_FOLDER_TEXT);
    CreateDirectoryA(INSTALL_FOLDER_TEXT, nullptr);
}

std::vector<std::string> install_folder_names()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(LIBRARY_FOLDER "*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void load_catalogue(const std::string &records_text)
{
    std::vector<char> text(records_text.begin(), records_text.end());
    text.push_back(0);
    field_list records;
    split_records(&records, text.data());
    build_catalogue(&records);
}

// ---------------------------------------------------------------- main window

test_window create_test_window()
{
    test_window w = {};
    w.main = CreateWindowExA(0, "STATIC", "catalogue tests", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    w.list = CreateWindowExA(0, WC_LISTVIEWA, "List1", WS_CHILD | LVS_REPORT, 10, 40, 660, 200,
                             w.main, (HMENU)ID_LIBRARY_LIST, nullptr, nullptr);
    w.label = CreateWindowExA(0, "STATIC", "", WS_CHILD, 10, 250, 600, 20, w.main,
                              (HMENU)ID_CURRENT_FILE, nullptr, nullptr);
    CreateWindowExA(0, "STATIC", INSTALL_FOLDER_TEXT, WS_CHILD, 10, 10, 300, 20, w.main,
                    (HMENU)ID_FOLDER_TEXT, nullptr, nullptr);
    w.progress = CreateWindowExA(0, PROGRESS_CLASSA, "Progress1", WS_CHILD, 10, 300, 600, 8, w.main,
                                 (HMENU)ID_PROGRESS_BAR, nullptr, nullptr);
    for (int c = 0; c < COLUMN_COUNT; ++c) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 100;
        column.pszText = const_cast<char *>("c");
        SendMessageA(w.list, LVM_INSERTCOLUMNA, c, (LPARAM)&column);
    }
    return w;
}

void destroy_test_window(test_window *w)
{
    if (w->main)
        DestroyWindow(w->main);
    *w = test_window{};
}

void fill_rows(const test_window &w)
{
    SendMessageA(w.list, LVM_DELETEALLITEMS, 0, 0);
    // The program's own: the retrieval compares, the window writes.
    local_row rows[CATALOGUE_MAX_ENTRIES];
    compare_catalogue_with_folder(g_catalogue, g_catalogue_count, rows);
    fill_catalogue_rows(w.list, rows);
}

std::string cell(const test_window &w, int row, int column)
{
    char text[300] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(w.list, LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return text;
}

namespace {
struct box_scan {
    std::vector<std::string> *texts;
    std::vector<HWND> *closed;  // boxes already told to close, still on their way out
    const std::function<void()> *on_box;
};

BOOL CALLBACK close_message_box(HWND window, LPARAM context)
{
    char class_name[32] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    if (strcmp(class_name, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    char caption[300] = "", text[600] = "";
    GetWindowTextA(window, caption, sizeof caption);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    auto *scan = reinterpret_cast<box_scan *>(context);
    for (HWND closed : *scan->closed)
        if (closed == window)
            return TRUE;
    scan->closed->push_back(window);
    scan->texts->push_back(std::string(caption) + "|" + text);
    if (*scan->on_box)
        (*scan->on_box)();
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

DWORD WINAPI run_function(void *context)
{
    (*static_cast<const std::function<void()> *>(context))();
    return 0;
}
}  // namespace

std::vector<std::string> run_pass(const std::function<void()> &fn,
                                  const std::function<void()> &on_box)
{
    std::vector<std::string> texts;
    std::vector<HWND> closed;
    DWORD thread_id = 0;
    HANDLE thread = CreateThread(nullptr, 0, run_function, const_cast<std::function<void()> *>(&fn),
                                 0, &thread_id);
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (woke == WAIT_OBJECT_0)
            break;
        box_scan scan = {&texts, &closed, &on_box};
        EnumThreadWindows(thread_id, close_message_box, (LPARAM)&scan);
    }
    CloseHandle(thread);
    return texts;
}

std::string env_text(const char *name)
{
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return "";
    return value;
}
