#include "catalogue/text_install.h"
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "catalogue/catalogue.h"
#include "catalogue/decimal_text.h"
#include "catalogue/field_split.h"
#include "catalogue/install_steps.h"
#include "catalogue/ledger.h"
#include "catalogue/library_name.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "net/framed/staged_file.h"
#include "net/text/text_channel.h"

// The answer is read by one receive of at most 40960 bytes, as the server expects. File data
// is read in receives of up to 1 MiB: the block size the server announces only says how it
// writes, and under a 40960-byte read the install ran at a fraction of a plain HTTP fetch.
enum { ANSWER_RECEIVE_SIZE = 40960, DATA_RECEIVE_SIZE = 1 << 20, ANSWER_PREFIX_LENGTH = 9 };

static const char ANSWER_REFUSED[] = "#EXL:ERR:";

static int fail(int *failure, int reason)
{
    if (failure)
        *failure = reason;
    return 0;
}

// The bar's position as the download sees it. From a thread other than the bar's, a sent
// message waits for that thread every time, and on a fast link those waits cost the download
// more than its receives did; a posted one does not wait, and posted messages keep their
// order, so the reset at the end still lands last.
struct progress_bar {
    HWND window;
    int post;
    int shown;
    DWORD moved_at;
};

// Steps closer together than this are not shown: the eye cannot follow them, and each is a
// message to another thread.
enum { PROGRESS_STEP_MS = 20 };

static progress_bar progress_for(HWND window)
{
    progress_bar bar = {window, 0, -1, GetTickCount()};
    if (window)
        bar.post = GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId();
    return bar;
}

static void set_progress(progress_bar *bar, int percent)
{
    if (!bar->window)
        return;
    bar->shown = percent;
    bar->moved_at = GetTickCount();
    if (bar->post)
        PostMessageA(bar->window, PBM_SETPOS, (WPARAM)percent, 0);
    else
        SendMessageA(bar->window, PBM_SETPOS, (WPARAM)percent, 0);
}

// Moves the bar when the percentage changes, at most once per step time.
static void show_progress(progress_bar *bar, int64_t received, int64_t total)
{
    if (!bar->window || total <= 0)
        return;
    int percent = (int)(received * 100 / total);
    if (percent != bar->shown && GetTickCount() - bar->moved_at >= PROGRESS_STEP_MS)
        set_progress(bar, percent);
}

int download_file_text(SOCKET s, const char *folder, const char *name, HWND progress,
                       const transfer_check *check, int *failure)
{
    if (failure)
        *failure = INSTALL_OK;
    if (!s || s == INVALID_SOCKET)
        return fail(failure, INSTALL_NO_CONNECTION);
    if (!folder || !folder[0] || !library_name_is_safe(name))
        return fail(failure, INSTALL_BAD_NAME);
    char target[MAX_PATH];
    if (snprintf(target, sizeof target, "%s\\%s", folder, name) >= (int)sizeof target)
        return fail(failure, INSTALL_BAD_NAME);
    char request[300];
    snprintf(request, sizeof request, "#REQ:FTP_RCV:%s", name);

    // One byte more than the answer's receive can fill, so the answer is always terminated.
    char *buffer = (char *)calloc(DATA_RECEIVE_SIZE + 1, 1);
    if (!buffer)
        return fail(failure, INSTALL_LOCAL_ERROR);
    int received_now = text_exchange(s, request, buffer, ANSWER_RECEIVE_SIZE);
    if (received_now <= 0) {
        free(buffer);
        return fail(failure, INSTALL_BROKEN);
    }
    int answer_length = (int)strlen(buffer);
    if (strncmp(buffer, ANSWER_REFUSED, ANSWER_PREFIX_LENGTH) == 0 ||
        answer_length < ANSWER_PREFIX_LENGTH) {
        free(buffer);
        return fail(failure, INSTALL_REFUSED);
    }
    field_list fields;
    split_fields(&fields, buffer + ANSWER_PREFIX_LENGTH, "~|", FIELD_LIST_CAPACITY);
    terminate_fields(&fields);
    if (fields.count < 3 || !fields.starts[1] || !fields.starts[2]) {
        free(buffer);
        return fail(failure, INSTALL_REFUSED);
    }
    // Field 1, the server's block size, is not needed to read the data.
    int size = parse_i32_saturated(fields.starts[2]);
    if (size < 0) {
        free(buffer);
        return fail(failure, INSTALL_REFUSED);
    }
    if (size == 0) {
        // Nothing follows an empty announcement. An empty library file is still a file: it is
        // made when the catalogue agrees (the result stays 0; the reason says it worked).
        free(buffer);
        if (check && ((check->check_size && check->size != 0) ||
                      (check->check_crc && check->crc != 0)))
            return fail(failure, INSTALL_DAMAGED);
        ensure_directory(folder);
        staged_file empty;
        if (!staged_file_begin(&empty, target))
            return fail(failure, INSTALL_LOCAL_ERROR);
        return fail(failure, staged_file_commit(&empty));
    }

    // A size other than the catalogue's cannot pass the check: its bytes are read past
    // without touching the disk, so a bogus announcement cannot fill it either.
    int expected = !check || !check->check_size || (uint32_t)size == check->size;
    staged_file staged;
    int writable = 0;
    if (expected) {
        ensure_directory(folder);
        writable = staged_file_begin(&staged, target);
        staged_file_expect(&staged, check);
    }
    int64_t received = 0;
    progress_bar bar = progress_for(progress);

    // Bytes that came with the answer, after its terminator, are the file's first bytes.
    int early = received_now - (answer_length + 1);
    if (early > 0) {
        int take = early < size ? early : size;
        if (writable && !staged_file_write(&staged, buffer + answer_length + 1, (uint32_t)take)) {
            staged_file_abort(&staged);
            writable = 0;
        }
        received += take;
        show_progress(&bar, received, size);
    }
    // Read every announced byte even when the file cannot be written, so the next answer
    // is not read from this file's data.
    while (received < size) {
        int64_t remaining = size - received;
        int want = remaining < DATA_RECEIVE_SIZE ? (int)remaining : DATA_RECEIVE_SIZE;
        int got = recv(s, buffer, want, 0);
        if (got <= 0) {
            pass_socket_mutex();
            if (writable)
                staged_file_abort(&staged);
            set_progress(&bar, 0);
            free(buffer);
            return fail(failure, INSTALL_BROKEN);
        }
        if (writable && !staged_file_write(&staged, buffer, (uint32_t)got)) {
            staged_file_abort(&staged);
            writable = 0;
        }
        received += got;
        show_progress(&bar, received, size);
    }
    set_progress(&bar, 0);
    free(buffer);

    if (!expected)
        return fail(failure, INSTALL_DAMAGED);
    if (!writable)
        return fail(failure, INSTALL_LOCAL_ERROR);
    if (check && ((check->check_size && staged.size != check->size) ||
                  (check->check_crc && staged.crc != check->crc))) {
        staged_file_abort(&staged);
        return fail(failure, INSTALL_DAMAGED);
    }
    int committed = staged_file_commit(&staged);
    if (committed != INSTALL_OK)
        return fail(failure, committed);
    return size;
}

int install_over_text(HWND main_window, const char *folder, HWND list_view,
                      install_report *report)
{
    report_begin(report);
    if (!main_window || !folder || !folder[0] || !list_view || !g_channel_socket)
        return 0;
    int rows = list_row_count(list_view);
    if (rows == 0)
        return 0;
    HWND progress = GetDlgItem(main_window, MAIN_PROGRESS_BAR);
    int installed = 0;
    for (int row = 0; row < rows; ++row) {
        char status[260], name[260];
        read_cell(list_view, row, COLUMN_STATUS, status, sizeof status);
        if (strcmp(status, STATUS_MATCH) == 0)
            continue;
        read_cell(list_view, row, COLUMN_NAME, name, sizeof name);
        SetDlgItemTextA(main_window, MAIN_CURRENT_FILE, name);
        if (!library_name_is_safe(name)) {
            report_failure(report, name, INSTALL_BAD_NAME);
            continue;
        }
        if (refused_by_signature(report, row, name))
            continue;
        transfer_check check;
        make_transfer_check(entry_for_row(row), name, &check);
        int failure = INSTALL_OK;
        int size = download_file_text(g_channel_socket, folder, name, progress, &check, &failure);
        if (size <= 0 && failure != INSTALL_OK) {
            report_failure(report, name, failure);
            // A connection that broke, or fell out of step, is opened anew once, so one
            // broken transfer does not fail every later file.
            if (failure == INSTALL_BROKEN)
                open_text_channel();
            continue;
        }
        ++installed;
        report_installed(report);
        char size_text[16];
        snprintf(size_text, sizeof size_text, "%d", size);
        write_cell(list_view, row, COLUMN_LOCAL_SIZE, size_text);
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s", folder, name);
        mark_row_installed(list_view, row, path);
    }
    write_ledger(list_view);
    return installed;
}
