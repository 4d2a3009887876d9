#include "catalogue/web_install.h"

#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/install_lock.h"
#include "catalogue/install_steps.h"
#include "catalogue/ledger.h"
#include "catalogue/list_rows.h"
#include "catalogue/manifest_check.h"
#include "catalogue/web_library.h"
#include "core/decimal_text.h"
#include "core/library_name.h"
#include "core/static_layout.h"
#include "net/framed/staged_file.h"
#include "res/resource.h"
#include "res/texts.h"

// The bar moves at most this often: each move is a message to the window's thread.
enum { PROGRESS_STEP_MS = 20 };
// Beyond the deadlines of a file's requests, what the pass waits for its thread.
enum { FETCH_WAIT_MARGIN_MS = 10000 };

struct staging_sink {
    staged_file staged;
    HWND volatile progress;  // set by the pass's thread when this file becomes the shown one
    uint64_t total;
    int shown;
    ULONGLONG moved_at;
};

static void show_percent(staging_sink *s, HWND progress, int percent)
{
    s->shown = percent;
    s->moved_at = GetTickCount64();
    // Posted, not sent: a sent message would wait on the window's thread at every step.
    PostMessageA(progress, PBM_SETPOS, (WPARAM)percent, 0);
}

static int stage_bytes(void *context, const void *data, uint32_t length)
{
    staging_sink *s = (staging_sink *)context;
    if (!staged_file_write(&s->staged, data, length))
        return 0;
    HWND progress = s->progress;
    if (progress && s->total > 0) {
        int percent = (int)(s->staged.size * 100 / s->total);
        if (percent != s->shown && GetTickCount64() - s->moved_at >= PROGRESS_STEP_MS)
            show_percent(s, progress, percent);
    }
    return 1;
}

static int failure_of(int outcome)
{
    switch (outcome) {
    case WEB_STATUS:
    case WEB_REDIRECT_REFUSED:
        return INSTALL_REFUSED;
    case WEB_SHORT_BODY:
    case WEB_LONG_BODY:
    case WEB_TOO_LARGE:
        return INSTALL_DAMAGED;
    case WEB_TOO_SLOW:
        return INSTALL_TOO_SLOW;
    case WEB_TIMED_OUT:
    case WEB_BROKEN:
        return INSTALL_BROKEN;
    case WEB_SINK_FAILED:
        return INSTALL_LOCAL_ERROR;
    default:
        return INSTALL_NO_CONNECTION;
    }
}

// The name as the static layout spells it: UTF-8 from code page 949.
static int utf8_name(const char *name, char *out, int capacity)
{
    wchar_t wide[LIBRARY_NAME_MAX + 1];
    int count =
        MultiByteToWideChar(949, MB_ERR_INVALID_CHARS, name, -1, wide, LIBRARY_NAME_MAX + 1);
    if (count <= 0)
        return 0;
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, capacity, nullptr, nullptr) > 0;
}

static void note_failure(web_install_note note, const char *name, int outcome,
                         const web_response *response)
{
    if (!note)
        return;
    char reason[256], line[600];
    web_failure_text(outcome, response, reason, sizeof reason);
    snprintf(line, sizeof line, TEXT_LOG_WEB_FILE_FAILED_FORMAT, name, reason);
    note(line);
}

// One file of the pass: its request may run on a thread of its own while the pass finishes the
// file before it. Under Wine, WinHTTP waits on the wineserver twice for every 16 KiB TLS record
// it receives; a second transfer fills those waits, and the pass runs about twice as fast.
struct web_fetch {
    int row;
    int failure;  // INSTALL_OK, or why the file was refused before anything was asked
    const catalogue_entry *entry;
    char name[260];
    transfer_check check;
    char path[LIBRARY_NAME_MAX * 9 + 64];
    staging_sink sink;
    web_response response;
    int outcome;
    HANDLE thread;  // null when the request ran (or runs) on the pass's thread
};

// Everything before the request: the name, its web path, the staged file. INSTALL_OK or why not.
static int prepare_fetch(web_fetch *f, const catalogue_entry *entry, const char *folder,
                         const char *name, const transfer_check *check)
{
    memset(&f->sink, 0, sizeof f->sink);
    f->sink.staged.handle = INVALID_HANDLE_VALUE;
    f->sink.shown = -1;
    f->entry = entry;
    f->check = *check;
    if (!entry || !folder || !folder[0] || !library_name_is_safe(name) ||
        strlen(name) >= sizeof f->name)
        return INSTALL_BAD_NAME;
    strcpy(f->name, name);
    char target[MAX_PATH];
    if (snprintf(target, sizeof target, "%s\\%s", folder, name) >= (int)sizeof target)
        return INSTALL_BAD_NAME;
    // The path is the catalogue's own CRC-32 and size: the files of one catalogue, whatever
    // catalogue the server holds by now.
    char name_utf8[LIBRARY_NAME_MAX * 3 + 1];
    if (!utf8_name(name, name_utf8, sizeof name_utf8) ||
        !static_file_path(name_utf8, parse_u32_saturated(entry->crc),
                          (uint64_t)(uint32_t)parse_i32_saturated(entry->size), f->path,
                          sizeof f->path))
        return INSTALL_BAD_NAME;
    ensure_directory(folder);
    if (!staged_file_begin(&f->sink.staged, target))
        return INSTALL_LOCAL_ERROR;
    staged_file_expect(&f->sink.staged, &f->check);
    f->sink.total = f->check.size;
    return INSTALL_OK;
}

// The request and the body into the staged file; touches nothing the pass's thread uses.
static void run_fetch(web_fetch *f)
{
    web_request request;
    memset(&request, 0, sizeof request);
    request.path = f->path;
    request.expected_size = f->check.size;
    request.max_size = f->check.size;
    request.may_resume = f->check.size >= WEB_RESUME_MIN_BYTES;
    request.sink = stage_bytes;
    request.context = &f->sink;
    f->outcome = web_get(&g_web_library.channel, &request, &f->response);
}

static DWORD WINAPI fetch_thread(void *context)
{
    run_fetch((web_fetch *)context);
    return 0;
}

// The checks and the replacement, on the pass's thread once the transfer has ended.
static int finish_fetch(web_fetch *f, HWND progress, web_install_note note)
{
    if (progress)
        PostMessageA(progress, PBM_SETPOS, 0, 0);
    if (f->response.resumed && note) {
        char line[400];
        snprintf(line, sizeof line, TEXT_LOG_WEB_FILE_RESUMED_FORMAT, f->name);
        note(line);
    }
    if (f->outcome != WEB_OK) {
        staged_file_abort(&f->sink.staged);
        note_failure(note, f->name, f->outcome, &f->response);
        return failure_of(f->outcome);
    }
    const staged_file &staged = f->sink.staged;
    if ((f->check.check_size && staged.size != f->check.size) ||
        (f->check.check_crc && staged.crc != f->check.crc)) {
        staged_file_abort(&f->sink.staged);
        return INSTALL_DAMAGED;
    }
    return staged_file_commit(&f->sink.staged);
}

int download_file_web(const catalogue_entry *entry, const char *folder, const char *name,
                      HWND progress, const transfer_check *check, web_install_note note)
{
    if (!g_web_library.channel_open)
        return INSTALL_NO_CONNECTION;
    if (!check)
        return INSTALL_BAD_NAME;
    web_fetch *f = (web_fetch *)calloc(1, sizeof *f);
    if (!f)
        return INSTALL_LOCAL_ERROR;
    int failure = prepare_fetch(f, entry, folder, name ? name : "", check);
    if (failure == INSTALL_OK) {
        f->sink.progress = progress;
        run_fetch(f);
        failure = finish_fetch(f, progress, note);
    }
    free(f);
    return failure;
}

// The next waiting row from row on, set up in f and its request started on a thread (on this
// one when no thread can be made); f->failure says when it may not be fetched. 0 when no row
// is left.
static int start_next_fetch(web_fetch *f, HWND list_view, int row, int rows, const char *folder)
{
    char name[260];
    row = next_waiting_row(list_view, row, rows, name, sizeof name);
    if (row < 0)
        return 0;
    memset(f, 0, sizeof *f);
    f->row = row;
    snprintf(f->name, sizeof f->name, "%s", name);
    // Refusals are only noted here: the report names them in the rows' order, in turn.
    if (!library_name_is_safe(name)) {
        f->failure = INSTALL_BAD_NAME;
        return 1;
    }
    f->failure = signed_file_refusal(entry_for_row(row), name);
    if (f->failure != INSTALL_OK)
        return 1;
    transfer_check check;
    make_transfer_check(entry_for_row(row), name, &check);
    f->failure = prepare_fetch(f, entry_for_row(row), folder, name, &check);
    if (f->failure != INSTALL_OK)
        return 1;
    f->thread = CreateThread(nullptr, 0, fetch_thread, f, 0, nullptr);
    if (!f->thread)
        run_fetch(f);
    return 1;
}

int install_over_web(HWND main_window, HWND list_view, install_report *report,
                     web_install_note note)
{
    const char *folder = INSTALL_FOLDER_TEXT;
    int rows = 0;
    HANDLE lock = begin_pass_over_rows(main_window, list_view, report, &rows);
    if (!lock)
        return 0;
    if (!g_web_library.channel_open && open_web_library() != WEB_OK) {
        report_waiting_rows(list_view, report, INSTALL_NO_CONNECTION);
        release_install_lock(lock);
        return 0;
    }
    HWND progress = GetDlgItem(main_window, ID_PROGRESS_BAR);
    // Two files at most are under way: the one the window shows, and the one after it.
    web_fetch *slots = (web_fetch *)calloc(2, sizeof *slots);
    if (!slots) {
        report_waiting_rows(list_view, report, INSTALL_LOCAL_ERROR);
        release_install_lock(lock);
        return 0;
    }
    int installed = 0;
    int turn = 0;
    int more = start_next_fetch(&slots[turn], list_view, 0, rows, folder);
    while (more) {
        web_fetch *f = &slots[turn];
        turn ^= 1;
        SetDlgItemTextA(main_window, ID_CURRENT_FILE, f->name);
        if (f->failure == INSTALL_OK && progress)
            InterlockedExchangePointer((void *volatile *)&f->sink.progress, progress);
        more = start_next_fetch(&slots[turn], list_view, f->row + 1, rows, folder);
        if (f->thread) {
            // web_get ends each of its two requests by its deadline; this wait has a bound too.
            DWORD bound = web_request_deadline_ms(f->check.size);
            bound = bound < (INFINITE - 1) / 2 - FETCH_WAIT_MARGIN_MS
                        ? 2 * bound + FETCH_WAIT_MARGIN_MS
                        : INFINITE - 1;
            if (WaitForSingleObject(f->thread, bound) != WAIT_OBJECT_0) {
                // Cannot happen while web_get keeps its deadlines; should it, the slots stay
                // with their threads (never freed under them) and the pass ends here.
                report_waiting_rows(list_view, report, INSTALL_TOO_SLOW);
                release_install_lock(lock);
                return installed;
            }
            CloseHandle(f->thread);
            f->thread = nullptr;
        }
        int failure = f->failure == INSTALL_OK ? finish_fetch(f, progress, note) : f->failure;
        if (failure != INSTALL_OK) {
            report_failure(report, f->name, failure);
            continue;
        }
        ++installed;
        char size_text[16];
        snprintf(size_text, sizeof size_text, "%u", (unsigned)f->check.size);
        record_installed_row(list_view, report, f->row, f->name, size_text);
    }
    free(slots);
    write_ledger(list_view);
    release_install_lock(lock);
    return installed;
}
