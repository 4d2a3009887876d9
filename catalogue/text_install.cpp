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

// Moves the bar only when the percentage changes: each move is a message to another thread.
static void show_progress(HWND progress, int64_t received, int64_t total, int *shown)
{
    if (!progress || total <= 0)
        return;
    int percent = (int)(received * 100 / total);
    if (percent != *shown) {
        *shown = percent;
        SendMessageA(progress, PBM_SETPOS, (WPARAM)percent, 0);
    }
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
    if (size <= 0) {
        // Nothing follows an empty or negative announcement; no file is made from it.
        free(buffer);
        return fail(failure, size == 0 ? INSTALL_DAMAGED : INSTALL_REFUSED);
    }

    // A size other than the catalogue's cannot pass the check: its bytes are read past
    // without touching the disk, so a bogus announcement cannot fill it either.
    int expected = !check || !check->check_size || (uint32_t)size == check->size;
    staged_file staged;
    int writable = 0;
    if (expected) {
        ensure_directory(folder);
        writable = staged_file_begin(&staged, target);
    }
    int64_t received = 0;
    int shown = -1;

    // Bytes that came with the answer, after its terminator, are the file's first bytes.
    int early = received_now - (answer_length + 1);
    if (early > 0) {
        int take = early < size ? early : size;
        if (writable && !staged_file_write(&staged, buffer + answer_length + 1, (uint32_t)take)) {
            staged_file_abort(&staged);
            writable = 0;
        }
        received += take;
        show_progress(progress, received, size, &shown);
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
            if (progress)
                SendMessageA(progress, PBM_SETPOS, 0, 0);
            free(buffer);
            return fail(failure, INSTALL_BROKEN);
        }
        if (writable && !staged_file_write(&staged, buffer, (uint32_t)got)) {
            staged_file_abort(&staged);
            writable = 0;
        }
        received += got;
        show_progress(progress, received, size, &shown);
    }
    if (progress)
        SendMessageA(progress, PBM_SETPOS, 0, 0);
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
        transfer_check check;
        make_transfer_check(entry_for_row(row), name, &check);
        int failure = INSTALL_OK;
        int size = download_file_text(g_channel_socket, folder, name, progress, &check, &failure);
        if (size <= 0) {
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
