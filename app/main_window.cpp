#include "app/main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "app/background_retrieval.h"
#include "app/catalogue_rows.h"
#include "app/install_worker.h"
#include "app/ip_option.h"
#include "app/run_log.h"
#include "app/server_resolution.h"
#include "app/web_retrieval.h"
#include "catalogue/catalogue.h"
#include "catalogue/manifest_check.h"
#include "catalogue/web_library.h"
#include "core/field_split.h"
#include "net/framed/framed_session.h"
#include "net/text/text_channel.h"
#include "res/texts.h"
#include "settings/registry_store.h"
#include "settings/settings_dialog.h"


static HWND g_list_view = nullptr;
static char g_initial_message[512] = {0};  // the message line as the dialog resource sets it
static int g_refresh_pending = 0;          // a refresh was asked for while one was running
static int g_settings_open = 0;            // the settings dialog may change the address

enum { COLUMN_MARGIN = 16 };  // header text padding on both sides

// ---------------------------------------------------------------- list

void setup_list_columns(HWND list)
{
    while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0))
        ;

    char *header = strdup(TEXT_LIST_HEADER);
    if (!header)
        return;
    static field_list fields;
    memset(&fields, 0, sizeof fields);
    int count = split_fields(&fields, header, "%", FIELD_LIST_CAPACITY);
    terminate_fields(&fields);
    for (int i = 0; i < count; ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.pszText = fields.starts[i];
        SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&column);
    }
    // Widths after all columns exist: the last one then takes the remaining room. Some
    // list views size a header by another font than the one it is drawn in; the measured
    // caption plus its margins is the floor, so no caption is shown cut.
    for (int i = 0; i < count; ++i) {
        SendMessageA(list, LVM_SETCOLUMNWIDTH, i, LVSCW_AUTOSIZE_USEHEADER);
        if (i == count - 1)
            break;
        int caption = (int)SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, (LPARAM)fields.starts[i]);
        int width = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0);
        if (caption > 0 && width < caption + COLUMN_MARGIN)
            SendMessageA(list, LVM_SETCOLUMNWIDTH, i, caption + COLUMN_MARGIN);
    }
    free(header);
}

// ---------------------------------------------------------------- refresh

void pump_pending_messages(HWND window)
{
    MSG message;
    while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static void set_settings_menu_enabled(HWND window, int enabled);

// Download and the settings item wait for the list: one installs what it shows, the
// other would change the server under a retrieval.
static void set_commands_enabled(HWND window, int enabled)
{
    EnableWindow(GetDlgItem(window, ID_DOWNLOAD_BUTTON), enabled ? TRUE : FALSE);
    set_settings_menu_enabled(window, enabled);
}

// Where the library came from leads the message line; the signature's verdict, when there is
// one, follows it.
static void show_web_source(HWND window)
{
    char now[512] = {0};
    GetDlgItemTextA(window, ID_MESSAGE_LINE, now, sizeof now);
    char line[LIBRARY_URL_MAX + 2048];
    if (strcmp(now, g_initial_message) == 0)
        snprintf(line, sizeof line, "%s", web_retrieval_line());
    else
        snprintf(line, sizeof line, "%s%s", web_retrieval_line(), now);
    SetDlgItemTextA(window, ID_MESSAGE_LINE, line);
}

// The end of a refresh, on the user-interface thread, whatever the retrieval's outcome.
static void finish_refresh(HWND window, const retrieval_result *result)
{
    if (g_refresh_pending) {
        // New settings came meanwhile: this list would be from the old server.
        g_refresh_pending = 0;
        SetTimer(window, REFRESH_TIMER_ID, REFRESH_DELAY_MS, nullptr);
        return;
    }
    if (!result->ok) {
        set_commands_enabled(window, 1);
        SetDlgItemTextA(window, ID_MESSAGE_LINE,
                        web_library_in_force() ? web_retrieval_line() : TEXT_NO_CONNECTION_LINE);
        MessageBoxA(window, TEXT_COMMUNICATION_FAILURE, TEXT_ERROR_CAPTION, MB_OK);
        return;
    }
    SetDlgItemTextA(window, ID_MESSAGE_LINE, g_initial_message);
    // The retrieval settled the publisher's signature before Download is offered, and compared
    // the installed files (with a verified manifest, with its SHA-256) on its own thread.
    fill_catalogue_rows(g_list_view, result->rows);
    g_first_install_marker = first_install_marker(g_list_view);
    show_library_signature(window);
    if (web_library_in_force())
        show_web_source(window);
    set_commands_enabled(window, 1);
}

void refresh_catalogue(HWND window)
{
    KillTimer(window, REFRESH_TIMER_ID);
    pump_pending_messages(window);
    if (!IsWindow(window))
        return;
    // Messages handled just now may have started an installation; it owns the catalogue
    // and the channel until it ends, so try again afterwards. The settings dialog may
    // still change the address the retrieval would read.
    if (g_worker_running || g_settings_open) {
        SetTimer(window, REFRESH_TIMER_ID, REFRESH_DELAY_MS, nullptr);
        return;
    }
    if (retrieval_in_flight()) {
        g_refresh_pending = 1;
        return;
    }
    SendMessageA(g_list_view, LVM_DELETEALLITEMS, 0, 0);
    set_commands_enabled(window, 0);
    SetDlgItemTextA(window, ID_MESSAGE_LINE, TEXT_CONNECTING);
    if (start_background_retrieval(window))
        return;
    // No thread to be had: this thread does not wait on the network in its stead; the
    // refresh fails as an unreachable server does, and the user may try again.
    retrieval_result result;
    memset(&result, 0, sizeof result);
    finish_refresh(window, &result);
}

static void on_retrieval_progress(HWND window)
{
    if (!retrieval_in_flight())
        return;
    char text[256];
    retrieval_progress_text(text, sizeof text);
    if (text[0])
        SetDlgItemTextA(window, ID_MESSAGE_LINE, text);
}

static void on_retrieval_done(HWND window)
{
    retrieval_result result;
    retrieval_take_result(&result);
    finish_refresh(window, &result);
}

// ---------------------------------------------------------------- creation

static void create_menu(HWND window)
{
    HMENU bar = CreateMenu();
    if (!bar)
        return;
    HMENU popup = CreatePopupMenu();
    if (!popup) {
        DestroyMenu(bar);
        return;
    }
    AppendMenuA(popup, MF_STRING, ID_MENU_SERVER_SETTINGS, TEXT_MENU_SERVER_SETTINGS);
    AppendMenuA(popup, MF_STRING, ID_MENU_VIEW_LOG, TEXT_MENU_VIEW_LOG);
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)popup, TEXT_SETTINGS_CAPTION);

    // The menu bar takes its height from the client area; grow the window by as much so
    // the bottom row of the layout (the progress bar) stays inside it.
    RECT before, after;
    GetClientRect(window, &before);
    if (!SetMenu(window, bar)) {
        DestroyMenu(bar);
        return;
    }
    GetClientRect(window, &after);
    int grow = (before.bottom - before.top) - (after.bottom - after.top);
    if (grow > 0) {
        RECT frame;
        GetWindowRect(window, &frame);
        SetWindowPos(window, nullptr, frame.left, frame.top - grow / 2, frame.right - frame.left,
                     frame.bottom - frame.top + grow, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

static void set_settings_menu_enabled(HWND window, int enabled)
{
    HMENU bar = GetMenu(window);
    if (!bar)
        return;
    EnableMenuItem(bar, ID_MENU_SERVER_SETTINGS, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(window);
}

static void on_create(HWND window)
{
    HICON icon = LoadIconA(g_instance, MAKEINTRESOURCEA(MAIN_ICON_ID));
    SendMessageA(window, WM_SETICON, ICON_BIG, (LPARAM)icon);
    HICON small_icon =
        (HICON)LoadImageA(g_instance, MAKEINTRESOURCEA(MAIN_ICON_ID), IMAGE_ICON,
                          GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
    if (small_icon)
        SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)small_icon);

    g_list_view = GetDlgItem(window, ID_LIBRARY_LIST);
    // An earlier window's abandoned retrieval still holds the buffer until it ends.
    if (retrieval_in_flight())
        wait_for_retrieval_end(INFINITE);
    free(g_receive_buffer);
    g_receive_buffer = (char *)calloc(RECEIVE_BUFFER_SIZE, 1);
    setup_list_columns(g_list_view);
    SendMessageA(g_list_view, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    if (g_cmdline_address_flag) {
        char title[261 + SERVER_HOST_SIZE + 2] = {0};
        GetWindowTextA(window, title, 261);
        append_host_to_title(title, sizeof title, g_cmdline_host);
        SetWindowTextA(window, title);
    }
    create_menu(window);
    GetDlgItemTextA(window, ID_MESSAGE_LINE, g_initial_message, sizeof g_initial_message);
    g_refresh_pending = 0;
    int source = resolve_server_address(&g_server_address,
                                        g_cmdline_address_flag ? g_cmdline_host : nullptr);
    run_log(TEXT_LOG_SERVER_ADDRESS_FORMAT, g_server_address.host, (unsigned)g_server_address.port,
            address_source_text(source));
    take_library_url(g_cmdline_url[0] ? g_cmdline_url : nullptr);
    set_commands_enabled(window, 0);
    SetTimer(window, REFRESH_TIMER_ID, REFRESH_DELAY_MS, nullptr);
}

// ---------------------------------------------------------------- commands

static void start_install(HWND window)
{
    // The catalogue and the channel belong to a retrieval until it ends.
    if (retrieval_in_flight())
        return;
    // One installation at a time, however the command arrives (button, Enter key).
    if (InterlockedCompareExchange(&g_worker_running, 1, 0) != 0)
        return;
    EnableWindow(GetDlgItem(window, ID_DOWNLOAD_BUTTON), FALSE);
    set_settings_menu_enabled(window, 0);
    HANDLE thread = CreateThread(nullptr, 0, install_worker, window, 0, nullptr);
    if (!thread) {
        InterlockedExchange(&g_worker_running, 0);
        EnableWindow(GetDlgItem(window, ID_DOWNLOAD_BUTTON), TRUE);
        set_settings_menu_enabled(window, 1);
        return;
    }
    CloseHandle(thread);
}

static void open_server_settings(HWND window)
{
    // A refresh would free the catalogue a running installation reads; a running retrieval
    // reads the address the dialog changes.
    if (g_worker_running || retrieval_in_flight())
        return;
    g_settings_open = 1;
    INT_PTR outcome = run_settings_dialog(window);
    g_settings_open = 0;
    if (outcome == SETTINGS_APPLIED) {
        run_log(TEXT_LOG_ADDRESS_CHANGED_FORMAT, g_server_address.host,
                (unsigned)g_server_address.port);
        SetTimer(window, REFRESH_TIMER_ID, REFRESH_DELAY_MS, nullptr);
    }
}

static void open_log(HWND window)
{
    char path[MAX_PATH];
    if (!run_log_path(path, sizeof path) ||
        (INT_PTR)ShellExecuteA(window, "open", path, nullptr, nullptr, SW_SHOWNORMAL) <= 32)
        MessageBoxA(window, TEXT_NO_LOG, "Pavoset.exe", MB_OK | MB_ICONINFORMATION);
}

static void on_command(HWND window, WPARAM wparam)
{
    if (HIWORD(wparam) != 0)
        return;
    switch (LOWORD(wparam)) {
    case ID_DOWNLOAD_BUTTON:
        start_install(window);
        break;
    case ID_MENU_SERVER_SETTINGS:
        open_server_settings(window);
        break;
    case ID_MENU_VIEW_LOG:
        open_log(window);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- closing

static void on_close(HWND window)
{
    // The worker uses the catalogue, the channel and this window's controls; letting the
    // window go now would pull them from under it.
    if (g_worker_running) {
        MessageBoxA(window, TEXT_STILL_INSTALLING, "Pavoset.exe", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (g_first_install_marker != 0 && g_installed_count != 0) {
        if (MessageBoxA(window, TEXT_CLOSING_QUESTION, TEXT_CLOSING_CAPTION, MB_YESNO) == IDYES)
            ShellExecuteA(nullptr, "Open", "Excel.exe", LIBRARY_FOLDER "Kickoff.xls", nullptr,
                          SW_SHOWNORMAL);
    }
    // A retrieval still running owns the catalogue; it is abandoned at destruction.
    if (!retrieval_in_flight())
        release_catalogue();
    DestroyWindow(window);  // ends the dialog's loop in start-up
}

static void on_destroy(HWND window)
{
    KillTimer(window, REFRESH_TIMER_ID);
    // A retrieval in flight keeps its socket, session and buffer and lets them go itself.
    if (abandon_retrieval()) {
        g_list_view = nullptr;
        return;
    }
    release_retrieval_state(g_worker_running);
    g_list_view = nullptr;
}

INT_PTR CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        on_create(window);
        return FALSE;
    case WM_TIMER:
        // Deferred while an installation runs; the armed timer brings it back afterwards.
        if (wparam == REFRESH_TIMER_ID && !g_worker_running)
            refresh_catalogue(window);
        return FALSE;
    case WM_COMMAND:
        on_command(window, wparam);
        return FALSE;
    case WM_RETRIEVAL_PROGRESS:
        on_retrieval_progress(window);
        return TRUE;
    case WM_RETRIEVAL_DONE:
        on_retrieval_done(window);
        return TRUE;
    case WM_WORKER_DONE:
        if (!g_worker_running)
            set_settings_menu_enabled(window, 1);
        return TRUE;
    case WM_CLOSE:
        on_close(window);
        return FALSE;
    case WM_DESTROY:
        on_destroy(window);
        return TRUE;
    default:
        return FALSE;
    }
}
