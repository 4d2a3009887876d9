// The client side of bench/install_bench.sh: installs the library that a server on
// 127.0.0.1 publishes into an empty install folder, over the text and then the framed
// protocol, and times each fresh install and the no-change refresh that follows (every file
// compared by size and CRC-32). Only the install pass and the refresh are timed: not the
// program's start, the connection or the catalogue. Each protocol runs RUNS times (default
// 3) and the median is reported, as single runs on a shared machine vary widely, followed by
// the ratio of the two medians (framed/text). With a URL, the web channel alone installs the
// library from that web server's static folder instead. Prints figures only.
//   install_bench_client PORT [RUNS] [framed]   (framed: the framed protocol only)
//   install_bench_client PORT RUNS URL          (the web channel only; PORT is not used)
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>
#include "catalogue/catalogue.h"
#include "catalogue/folder_comparison.h"
#include "catalogue/framed_install.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "catalogue/manifest_check.h"
#include "catalogue/text_install.h"
#include "catalogue/web_install.h"
#include "catalogue/web_library.h"
#include "core/decimal_text.h"
#include "net/framed/framed_session.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "res/resource.h"
#include "res/texts.h"
#include "settings/registry_store.h"

struct bench_window {
    HWND main;
    HWND list;
};

static bench_window create_window()
{
    bench_window w;
    w.main = CreateWindowExA(0, "STATIC", "install bench", WS_OVERLAPPEDWINDOW, 0, 0, 600, 300,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    w.list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 0, 0, 500, 200, w.main,
                             (HMENU)ID_LIBRARY_LIST, nullptr, nullptr);
    CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, w.main, (HMENU)ID_CURRENT_FILE,
                    nullptr, nullptr);
    CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 10, 10, w.main, (HMENU)ID_PROGRESS_BAR,
                    nullptr, nullptr);
    for (int c = 0; c < COLUMN_COUNT; ++c) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT;
        column.pszText = const_cast<char *>("");
        SendMessageA(w.list, LVM_INSERTCOLUMNA, c, (LPARAM)&column);
    }
    return w;
}

static void set_cell(HWND list, int row, int column, const char *text)
{
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char *>(text ? text : "");
    SendMessageA(list, LVM_SETITEMTEXTA, row, (LPARAM)&item);
}

// A refresh's comparison with the install folder (the retrieval's, two files at a time) and
// the rows written as the window writes them; the number of rows that compare as Match.
static int fill_rows(HWND list)
{
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    local_row rows[CATALOGUE_MAX_ENTRIES];
    compare_catalogue_with_folder(g_catalogue, g_catalogue_count, rows);
    int matching = 0;
    for (int i = 0; i < g_catalogue_count; ++i) {
        const catalogue_entry &e = g_catalogue[i];
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<char *>("");
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        set_cell(list, i, COLUMN_NAME, e.name);
        set_cell(list, i, COLUMN_CRC, e.crc);
        set_cell(list, i, COLUMN_SIZE, e.size);
        set_cell(list, i, COLUMN_LOCAL_SIZE, rows[i].current_size);
        set_cell(list, i, COLUMN_STATUS, rows[i].status);
        if (rows[i].outcome == LOCAL_MATCH)
            ++matching;
    }
    return matching;
}

enum bench_channel { OVER_FRAMED = 0, OVER_TEXT = 1, OVER_WEB = 2 };

static const char *channel_label(int channel)
{
    return channel == OVER_TEXT ? "text" : channel == OVER_WEB ? "web" : "framed";
}

static int retrieve(int text)
{
    field_list records;
    if (text == OVER_WEB) {
        // A fresh channel each run, as each run of the program opens one.
        close_web_library();
        web_response response = {};
        if (open_web_library() != WEB_OK || fetch_catalogue_web(&records, &response) != WEB_OK)
            return 0;
    } else if (text) {
        if (open_text_channel() != CHANNEL_OPEN || !fetch_catalogue_text(&records))
            return 0;
    } else if (!fetch_catalogue_framed(&records)) {
        return 0;
    }
    build_catalogue(&records);
    return 1;
}

struct pass_call {
    bench_window *w;
    int text;
    int installed;
};

static DWORD WINAPI run_install(void *context)
{
    pass_call *call = static_cast<pass_call *>(context);
    if (call->text == OVER_WEB)
        call->installed = install_over_web(call->w->main, call->w->list);
    else if (call->text == OVER_TEXT)
        call->installed = install_over_text(call->w->main, call->w->list);
    else
        call->installed = install_over_framed(call->w->main, call->w->list);
    return 0;
}

// The pass runs on a thread of its own, as the install worker does; this thread answers the
// list view's messages meanwhile.
static int install(bench_window *w, int text)
{
    pass_call call = {w, text, 0};
    HANDLE thread = CreateThread(nullptr, 0, run_install, &call, 0, nullptr);
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (woke == WAIT_OBJECT_0)
            break;
    }
    CloseHandle(thread);
    return call.installed;
}

static void empty_install_folder()
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(LIBRARY_FOLDER "*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            char path[MAX_PATH];
            snprintf(path, sizeof path, LIBRARY_FOLDER "%s", found.cFileName);
            DeleteFileA(path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static double seconds_since(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

struct run_times {
    double fresh;
    double refresh;
};

// One fresh install into an empty folder and the refresh after it; 1 when every file was
// installed and then compared as Match.
static int bench_run(bench_window *w, int text, double *bytes, int *files, run_times *times)
{
    *files = 0;
    times->fresh = times->refresh = 0;
    empty_install_folder();
    if (!retrieve(text))
        return 0;
    *bytes = 0;
    for (int i = 0; i < g_catalogue_count; ++i)
        *bytes += (double)(uint32_t)parse_i32_saturated(g_catalogue[i].size);
    *files = g_catalogue_count;
    fill_rows(w->list);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    int installed = install(w, text);
    times->fresh = seconds_since(start);

    QueryPerformanceCounter(&start);
    int matching = fill_rows(w->list);
    times->refresh = seconds_since(start);
    return installed == g_catalogue_count && matching == g_catalogue_count;
}

static double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs one protocol; *rate gets the median fresh-install rate in MB/s.
static int bench_protocol(bench_window *w, int text, int runs, double *rate)
{
    const char *label = channel_label(text);
    std::vector<double> fresh, refresh;
    double bytes = 0;
    int files = 0, complete = 0;
    for (int run = 1; run <= runs; ++run) {
        run_times times;
        int ok = bench_run(w, text, &bytes, &files, &times);
        if (files == 0) {
            printf("%s: catalogue retrieval failed\n", label);
            return 0;
        }
        complete += ok;
        fresh.push_back(times.fresh);
        refresh.push_back(times.refresh);
        printf("%s: run %d/%d: fresh %.2f s = %.1f MB/s, refresh %.2f s = %.1f MB/s%s\n", label,
               run, runs, times.fresh, bytes / 1e6 / times.fresh, times.refresh,
               bytes / 1e6 / times.refresh, ok ? "" : " (incomplete)");
        fflush(stdout);
        if (text == OVER_TEXT)
            close_text_channel();
    }
    double f = median(fresh), r = median(refresh);
    *rate = bytes / 1e6 / f;
    printf(
        "%s: fresh install of %d files, %d/%d runs complete, %.1f MB, median %.2f s = %.1f MB/s\n",
        label, files, complete, runs, bytes / 1e6, f, bytes / 1e6 / f);
    printf(
        "%s: no-change refresh (size and CRC-32 of every file), %.1f MB, median %.2f s = %.1f MB/s\n",
        label, bytes / 1e6, r, bytes / 1e6 / r);
    return complete == runs;
}

static void forget_publisher_key()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, SETTING_PUBLISHER_KEY);
        RegCloseKey(key);
    }
}

// Each file in turn on this thread, as the comparison ran before it took two at once; the
// number of files that compare as Match.
static int one_thread_matching()
{
    int matching = 0;
    for (int i = 0; i < g_catalogue_count; ++i) {
        const catalogue_entry &e = g_catalogue[i];
        matching += compare_local_file(e.name, e.crc, e.size, nullptr, nullptr) == LOCAL_MATCH;
    }
    return matching;
}

struct refresh_times {
    std::vector<double> two, one;  // the refresh as the program runs it; one thread's comparison
    int complete = 0;              // runs in which both found every file Match
};

// The two take turns run by run, so that the machine's load falls on both alike.
static void time_refreshes(bench_window *w, int runs, refresh_times *t)
{
    for (int run = 1; run <= runs; ++run) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        int all = fill_rows(w->list) == g_catalogue_count;
        t->two.push_back(seconds_since(start));
        QueryPerformanceCounter(&start);
        all = one_thread_matching() == g_catalogue_count && all;
        t->one.push_back(seconds_since(start));
        t->complete += all;
    }
}

// With a publisher key (the library on the server signed with it, the files just installed):
// the same no-change refresh with the manifest in force, every file compared by size and
// SHA-256 instead of CRC-32, beside the refresh without it timed just before, each also on one
// thread. The manifest's fetch and check are not timed, as the catalogue's retrieval is not.
static int bench_signed_refresh(bench_window *w, int runs, const char *public_key)
{
    refresh_times plain;
    time_refreshes(w, runs, &plain);
    write_setting(SETTING_PUBLISHER_KEY, public_key);
    g_protocol_preference = PROTOCOL_TEXT;
    int ok = retrieve(1);
    if (ok) {
        check_library_signature(nullptr);
        ok = library_signature_verdict() == VERDICT_VERIFIED;
    }
    if (!ok) {
        printf("signed: the manifest did not verify (verdict %d)\n", library_signature_verdict());
        forget_publisher_key();
        return 0;
    }
    double bytes = 0;
    for (int i = 0; i < g_catalogue_count; ++i)
        bytes += (double)parse_i32_saturated(g_catalogue[i].size);
    refresh_times hashed;
    time_refreshes(w, runs, &hashed);
    close_text_channel();
    forget_publisher_key();
    check_library_signature(nullptr);  // no key any more: back to no verdict
    double r = median(hashed.two), r1 = median(hashed.one);
    double u = median(plain.two), u1 = median(plain.one);
    printf("text, unsigned, just before: no-change refresh, %d/%d runs all Match, median %.3f s = "
           "%.1f MB/s (one thread: %.3f s = %.1f MB/s)\n",
           plain.complete, runs, u, bytes / 1e6 / u, u1, bytes / 1e6 / u1);
    printf("text, signed: no-change refresh (size and SHA-256 of every file), %.1f MB, %d/%d "
           "runs all Match, median %.3f s = %.1f MB/s (one thread: %.3f s = %.1f MB/s)\n",
           bytes / 1e6, hashed.complete, runs, r, bytes / 1e6 / r, r1, bytes / 1e6 / r1);
    printf("signed/unsigned: no-change refresh, ratio of the medians %.2f (one thread each: %.2f; "
           "two files at a time signed against one thread unsigned: %.2f)\n",
           r / u, r1 / u1, r / u1);
    return hashed.complete == runs && plain.complete == runs;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: install_bench_client PORT [RUNS] [framed]\n");
        return 2;
    }
    int runs = argc > 2 ? atoi(argv[2]) : 3;
    int framed_only = argc > 3 && strcmp(argv[3], "framed") == 0;
    const char *url = argc > 3 && strncmp(argv[3], "http", 4) == 0 ? argv[3] : nullptr;
    if (runs < 1 || runs > 50)
        runs = 3;
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    g_socket_mutex = CreateMutexA(nullptr, FALSE, nullptr);
    g_receive_buffer = (char *)calloc(RECEIVE_BUFFER_SIZE, 1);
    strcpy(g_server_address.host, "127.0.0.1");
    g_server_address.port = (unsigned short)atoi(argv[1]);
    CreateDirectoryA(INSTALL_FOLDER_TEXT, nullptr);

    bench_window w = create_window();
    if (url) {
        library_url address = {};
        address.source = URL_FROM_OPTION;
        snprintf(address.url, sizeof address.url, "%s", url);
        set_web_library(&address);
        double web_rate = 0;
        int ok = bench_protocol(&w, OVER_WEB, runs, &web_rate);
        close_web_library();
        empty_install_folder();
        fflush(stdout);
        return ok ? 0 : 1;
    }
    double text_rate = 0, framed_rate = 0;
    int ok = framed_only || bench_protocol(&w, 1, runs, &text_rate);
    const char *public_key = getenv("PAVOSET_BENCH_PUBLISHER_KEY");
    if (!framed_only && public_key && public_key[0])
        ok = bench_signed_refresh(&w, runs, public_key) && ok;
    ok = bench_protocol(&w, 0, runs, &framed_rate) && ok;
    if (text_rate > 0 && framed_rate > 0)
        printf("framed/text: fresh install, ratio of the medians %.2f\n", framed_rate / text_rate);
    empty_install_folder();
    fflush(stdout);
    return ok ? 0 : 1;
}
