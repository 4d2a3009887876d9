#include "catalogue/web_install.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "catalogue/decimal_text.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_steps.h"
#include "catalogue/ledger.h"
#include "catalogue/library_name.h"
#include "catalogue/list_rows.h"
#include "catalogue/static_layout.h"
#include "catalogue/web_library.h"
#include "net/framed/staged_file.h"
#include "res/texts.h"

// The bar moves at most this often: each move is a message to the window's thread.
enum { PROGRESS_STEP_MS = 20 };

struct staging_sink {
    staged_file staged;
    HWND progress;
    uint64_t total;
    int shown;
    ULONGLONG moved_at;
};

static void show_percent(staging_sink *s, int percent)
{
    s->shown = percent;
    s->moved_at = GetTickCount64();
    // Posted, not sent: a sent message would wait on the window's thread at every step.
    PostMessageA(s->progress, PBM_SETPOS, (WPARAM)percent, 0);
}

static int stage_bytes(void *context, const void *data, uint32_t length)
{
    staging_sink *s = (staging_sink *)context;
    if (!staged_file_write(&s->staged, data, length))
        return 0;
    if (s->progress && s->total > 0) {
        int percent = (int)(s->staged.size * 100 / s->total);
        if (percent != s->shown && GetTickCount64() - s->moved_at >= PROGRESS_STEP_MS)
            show_percent(s, percent);
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

int download_file_web(const catalogue_entry *entry, const char *folder, const char *name,
                      HWND progress, const transfer_check *check, web_install_note note)
{
    if (!g_web_library.channel_open)
        return INSTALL_NO_CONNECTION;
    if (!entry || !check || !folder || !folder[0] || !library_name_is_safe(name))
        return INSTALL_BAD_NAME;
    char target[MAX_PATH];
    if (snprintf(target, sizeof target, "%s\\%s", folder, name) >= (int)sizeof target)
        return INSTALL_BAD_NAME;
    // The path is the catalogue's own CRC-32 and size: the files of one catalogue, whatever
    // catalogue the server holds by now.
    char name_utf8[LIBRARY_NAME_MAX * 3 + 1];
    char path[LIBRARY_NAME_MAX * 9 + 64];
    if (!utf8_name(name, name_utf8, sizeof name_utf8) ||
        !static_file_path(name_utf8, parse_u32_saturated(entry->crc),
                          (uint64_t)(uint32_t)parse_i32_saturated(entry->size), path, sizeof path))
        return INSTALL_BAD_NAME;

    ensure_directory(folder);
    staging_sink sink;
    memset(&sink, 0, sizeof sink);
    if (!staged_file_begin(&sink.staged, target))
        return INSTALL_LOCAL_ERROR;
    staged_file_expect(&sink.staged, check);
    sink.progress = progress;
    sink.total = check->size;
    sink.shown = -1;

    web_request request;
    memset(&request, 0, sizeof request);
    request.path = path;
    request.expected_size = check->size;
    request.max_size = check->size;
    request.may_resume = check->size >= WEB_RESUME_MIN_BYTES;
    request.sink = stage_bytes;
    request.context = &sink;
    web_response response;
    int outcome = web_get(&g_web_library.channel, &request, &response);
    if (progress)
        PostMessageA(progress, PBM_SETPOS, 0, 0);
    if (response.resumed && note) {
        char line[400];
        snprintf(line, sizeof line, TEXT_LOG_WEB_FILE_RESUMED_FORMAT, name);
        note(line);
    }
    if (outcome != WEB_OK) {
        staged_file_abort(&sink.staged);
        note_failure(note, name, outcome, &response);
        return failure_of(outcome);
    }
    if ((check->check_size && sink.staged.size != check->size) ||
        (check->check_crc && sink.staged.crc != check->crc)) {
        staged_file_abort(&sink.staged);
        return INSTALL_DAMAGED;
    }
    return staged_file_commit(&sink.staged);
}

int install_over_web(HWND main_window, const char *folder, HWND list_view, install_report *report,
                     web_install_note note)
{
    report_begin(report);
    if (!main_window || !folder || !folder[0] || !list_view)
        return 0;
    int rows = 0;
    HANDLE lock = begin_pass_over_rows(list_view, report, &rows);
    if (!lock)
        return 0;
    if (!g_web_library.channel_open && open_web_library() != WEB_OK) {
        report_waiting_rows(list_view, report, INSTALL_NO_CONNECTION);
        release_install_lock(lock);
        return 0;
    }
    HWND progress = GetDlgItem(main_window, ID_PROGRESS_BAR);
    int installed = 0;
    char name[260];
    for (int row = 0; (row = next_waiting_row(list_view, row, rows, name, sizeof name)) >= 0;
         ++row) {
        SetDlgItemTextA(main_window, ID_CURRENT_FILE, name);
        if (!library_name_is_safe(name)) {
            report_failure(report, name, INSTALL_BAD_NAME);
            continue;
        }
        if (refused_by_signature(report, row, name))
            continue;
        transfer_check check;
        make_transfer_check(entry_for_row(row), name, &check);
        int failure = download_file_web(entry_for_row(row), folder, name, progress, &check, note);
        if (failure != INSTALL_OK) {
            report_failure(report, name, failure);
            continue;
        }
        ++installed;
        report_installed(report);
        char size_text[16];
        snprintf(size_text, sizeof size_text, "%u", (unsigned)check.size);
        write_cell(list_view, row, COLUMN_LOCAL_SIZE, size_text);
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s", folder, name);
        mark_row_installed(list_view, row, path);
    }
    write_ledger(list_view);
    release_install_lock(lock);
    return installed;
}
