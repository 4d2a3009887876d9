#include "catalogue/text_install.h"
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "catalogue/catalogue.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_steps.h"
#include "catalogue/ledger.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "core/decimal_text.h"
#include "core/field_split.h"
#include "core/file_checksum.h"
#include "core/library_name.h"
#include "core/text_protocol.h"
#include "net/bounded_receive.h"
#include "net/framed/staged_file.h"
#include "net/text/text_channel.h"
#include "res/resource.h"

// The answer is read by one receive of at most TEXT_RECEIVE_SIZE bytes, as the server expects.
// File data is read in receives of up to 1 MiB: the block size the server announces only says
// how it writes, and under a read of that size the install ran at a fraction of a plain HTTP fetch.
enum { DATA_RECEIVE_SIZE = 1 << 20 };

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

// The bytes after the answer's NUL, as they arrive. A server may send the file right behind
// the NUL, or pad its answer with NULs (in the same send) and send the file later; zero bytes
// behind the NUL in the answer's receive can be either. They are held back (counted, not
// written) until the first other byte, both readings are followed, and the catalogue's
// CRC-32 decides which one is the file.
struct file_bytes {
    int64_t size;           // announced
    int64_t taken;          // bytes after the NUL consumed
    int ambiguous;          // the answer's receive carried bytes after the NUL, a zero first
    int counting;           // every byte after the NUL was a zero so far
    int64_t zeros;          // zero bytes held back: the padding, if the answer was padded
    uint32_t unpadded_crc;  // CRC-32 of the first `size` bytes after the NUL
    int64_t padded_count;   // bytes after the zeros, at most `size`
    uint32_t padded_crc;    // their CRC-32
    staged_file staged;     // holds the bytes after the zeros
    int writable;
    const transfer_check *check;  // the publisher's SHA-256, when required, over what is staged
    // Read into memory instead of staged (the publisher's manifest), whose first byte is never
    // a zero: zeros right behind the answer's NUL are then its padding, no CRC needed.
    char *memory;
    int64_t memory_used;
};

// Longest padding taken for one: the answer and its padding travel in one send, which the
// answer's receive reads.
enum { PADDING_MAX = TEXT_RECEIVE_SIZE };

static void stage(file_bytes *f, const char *data, int64_t length)
{
    if (f->memory) {
        // The announced size was held to the buffer's capacity; never more than that is kept.
        int64_t part = f->size - f->memory_used < length ? f->size - f->memory_used : length;
        if (part > 0)
            memcpy(f->memory + f->memory_used, data, (size_t)part);
        f->memory_used += part > 0 ? part : 0;
        return;
    }
    if (f->writable && length > 0 && !staged_file_write(&f->staged, data, (uint32_t)length)) {
        staged_file_abort(&f->staged);
        f->writable = 0;
    }
}

static void stage_zeros(file_bytes *f, int64_t count)
{
    static const char zeros[4096] = {0};
    while (count > 0 && f->writable) {
        int64_t piece = count < (int64_t)sizeof zeros ? count : (int64_t)sizeof zeros;
        stage(f, zeros, piece);
        count -= piece;
    }
}

// with_answer: the bytes came in the answer's own receive, where padding travels.
static void take_bytes(file_bytes *f, const char *data, int64_t length, int with_answer)
{
    if (length <= 0)
        return;
    if (with_answer && f->taken == 0 && data[0] == 0)
        f->ambiguous = f->counting = 1;
    if (f->ambiguous && f->taken < f->size) {
        int64_t part = f->size - f->taken < length ? f->size - f->taken : length;
        f->unpadded_crc = crc32_update(f->unpadded_crc, data, (size_t)part);
    }
    f->taken += length;
    int64_t skip = 0;
    if (f->counting) {
        while (skip < length && data[skip] == 0)
            ++skip;
        f->zeros += skip;
        if (skip < length) {
            f->counting = 0;
        } else if (f->zeros > PADDING_MAX) {
            // Too long for padding: the zeros are the file's own bytes.
            f->ambiguous = f->counting = 0;
            int64_t own = f->zeros < f->size ? f->zeros : f->size;
            stage_zeros(f, own);
            f->padded_count = own;
            f->zeros = 0;
            return;
        }
    }
    int64_t room = f->size - f->padded_count;
    int64_t part = length - skip < room ? length - skip : room;
    if (part <= 0)
        return;
    f->padded_crc = crc32_update(f->padded_crc, data + skip, (size_t)part);
    f->padded_count += part;
    stage(f, data + skip, part);
}

// The held-back zeros were the file's own first bytes: the file is they and then what was
// staged. Rare: a file that starts with zero bytes and came right behind the answer.
static int restage_after_zeros(file_bytes *f)
{
    if (!f->writable)
        return 0;
    staged_file old = f->staged;
    f->writable = staged_file_begin(&f->staged, old.target_path);
    if (f->writable)
        staged_file_expect(&f->staged, f->check);
    int64_t own = f->zeros < f->size ? f->zeros : f->size;
    stage_zeros(f, own);
    CloseHandle(old.handle);
    old.handle = INVALID_HANDLE_VALUE;
    HANDLE in = CreateFileA(old.temp_path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE && f->writable) {
        staged_file_abort(&f->staged);
        f->writable = 0;
    }
    // Only what the file still lacks: bytes beyond it that came with the answer are no part.
    int64_t rest = f->size - own;
    char piece[65536];
    DWORD got = 0;
    while (f->writable && rest > 0 && ReadFile(in, piece, sizeof piece, &got, nullptr) && got > 0) {
        int64_t part = got < rest ? got : rest;
        stage(f, piece, part);
        rest -= part;
    }
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    staged_file_abort(&old);
    return f->writable;
}

// Where bytes read into memory go: capacity bytes at data.
struct memory_target {
    char *data;
    int capacity;
};

// The exchange and the file's bytes, once the receive buffer exists; the caller owns it.
// With memory the file is read into it rather than staged beside target.
static int download_with_buffer(SOCKET s, const char *folder, const char *target,
                                const char *request, HWND progress, const transfer_check *check,
                                int *failure, int *channel, char *buffer,
                                const memory_target *memory = nullptr)
{
    // The rate is judged from the request on, so a slow answer counts against it too.
    transfer_bound bound;
    begin_transfer_bound(&bound);
    int received_now = text_exchange(s, request, buffer, TEXT_RECEIVE_SIZE);
    if (received_now <= 0) {
        *channel = CHANNEL_NO_ANSWER;
        return fail(failure, INSTALL_BROKEN);
    }
    if (!note_received(&bound, received_now)) {
        *channel = CHANNEL_OUT_OF_STEP;
        return fail(failure, INSTALL_TOO_SLOW);
    }
    int answer_length = (int)strlen(buffer);
    if (strncmp(buffer, TEXT_ANSWER_REFUSED, TEXT_ANSWER_PREFIX_LENGTH) == 0) {
        return fail(failure, INSTALL_REFUSED);
    }
    // From here on an answer that cannot be used leaves the connection out of step: whatever
    // the server sends after it would be read as the next answer.
    field_list fields;
    fields.count = 0;
    if (answer_length >= TEXT_ANSWER_PREFIX_LENGTH) {
        split_fields(&fields, buffer + TEXT_ANSWER_PREFIX_LENGTH, TEXT_RECORD_SEPARATOR,
                     FIELD_LIST_CAPACITY);
        terminate_fields(&fields);
    }
    int size = -1;
    if (fields.count >= 3 && fields.starts[1] && fields.starts[2])
        size = parse_i32_saturated(fields.starts[2]);  // field 1, the block size, is not needed
    if (size < 0) {
        *channel = CHANNEL_OUT_OF_STEP;
        return fail(failure, INSTALL_REFUSED);
    }
    if (memory && size > memory->capacity) {
        *channel = CHANNEL_OUT_OF_STEP;  // its bytes are not read
        return fail(failure, INSTALL_DAMAGED);
    }
    if (size == 0 && memory)
        return fail(failure, INSTALL_OK);
    if (size == 0) {
        // Nothing follows an empty announcement. An empty library file is still a file: it is
        // made when the catalogue agrees (the result stays 0; the reason says it worked).
        if (check &&
            ((check->check_size && check->size != 0) || (check->check_crc && check->crc != 0)))
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
    file_bytes bytes;
    memset(&bytes, 0, sizeof bytes);
    bytes.size = size;
    if (memory) {
        bytes.memory = memory->data;
        bytes.writable = 1;
    } else if (expected) {
        ensure_directory(folder);
        bytes.writable = staged_file_begin(&bytes.staged, target);
        bytes.check = check;
        if (bytes.writable)
            staged_file_expect(&bytes.staged, check);
    }
    progress_bar bar = progress_for(progress);

    // Bytes that came with the answer, after its terminator, are the file's first bytes or
    // padding (see file_bytes).
    int early = received_now - (answer_length + 1);
    if (early > 0)
        take_bytes(&bytes, buffer + answer_length + 1, early, 1);
    show_progress(&bar, bytes.taken < size ? bytes.taken : size, size);
    // Read every announced byte even when the file cannot be written, so the next answer
    // is not read from this file's data.
    int outcome = INSTALL_OK;
    int unpadded_tried = 0;
    for (;;) {
        int64_t want;
        if (!bytes.ambiguous) {
            if (bytes.taken > size && unpadded_tried)
                *channel = CHANNEL_OUT_OF_STEP;  // read past a file that was no padding
            if (bytes.taken >= size)
                break;
            want = size - bytes.taken;
        } else if (bytes.taken < size) {
            want = size - bytes.taken;
        } else {
            // Without the catalogue's CRC-32 neither reading can be trusted, and a size other
            // than the catalogue's fails the file anyway.
            if (!bytes.memory && (!check || !expected)) {
                outcome = INSTALL_DAMAGED;
                *channel = CHANNEL_OUT_OF_STEP;
                break;
            }
            if (!unpadded_tried) {
                unpadded_tried = 1;
                if (!bytes.memory && bytes.unpadded_crc == check->crc)
                    break;
            }
            if (!bytes.counting && bytes.padded_count >= size) {
                if (!bytes.memory && bytes.padded_crc != check->crc) {
                    outcome = INSTALL_DAMAGED;
                    *channel = CHANNEL_OUT_OF_STEP;  // neither reading: where did it end?
                }
                break;
            }
            want = bytes.counting ? size : bytes.zeros + size - bytes.taken;
        }
        int got = bounded_receive(s, buffer,
                                  want < DATA_RECEIVE_SIZE ? (int)want : DATA_RECEIVE_SIZE, &bound);
        if (got <= 0) {
            pass_socket_mutex();
            outcome = got == RECEIVE_TOO_SLOW ? INSTALL_TOO_SLOW : INSTALL_BROKEN;
            *channel = CHANNEL_OUT_OF_STEP;
            break;
        }
        take_bytes(&bytes, buffer, got, 0);
        show_progress(&bar, bytes.taken < size ? bytes.taken : size, size);
    }
    set_progress(&bar, 0);

    if (outcome == INSTALL_OK && bytes.ambiguous && unpadded_tried && !bytes.memory &&
        bytes.unpadded_crc == check->crc && bytes.zeros > 0 && !restage_after_zeros(&bytes))
        outcome = INSTALL_LOCAL_ERROR;
    if (outcome == INSTALL_OK && !expected)
        outcome = INSTALL_DAMAGED;
    if (outcome == INSTALL_OK && !bytes.writable)
        outcome = INSTALL_LOCAL_ERROR;
    if (outcome == INSTALL_OK && check &&
        ((check->check_size && bytes.staged.size != check->size) ||
         (check->check_crc && bytes.staged.crc != check->crc)))
        outcome = INSTALL_DAMAGED;
    if (outcome != INSTALL_OK) {
        if (bytes.writable && !bytes.memory)
            staged_file_abort(&bytes.staged);
        return fail(failure, outcome);
    }
    if (bytes.memory)
        return size;
    int committed = staged_file_commit(&bytes.staged);
    if (committed != INSTALL_OK)
        return fail(failure, committed);
    return size;
}

int download_file_text(SOCKET s, const char *folder, const char *name, HWND progress,
                       const transfer_check *check, int *failure, int *channel)
{
    if (failure)
        *failure = INSTALL_OK;
    int channel_state = CHANNEL_IN_STEP;
    if (!channel)
        channel = &channel_state;
    *channel = CHANNEL_IN_STEP;
    if (!s || s == INVALID_SOCKET)
        return fail(failure, INSTALL_NO_CONNECTION);
    if (!folder || !folder[0] || !library_name_is_safe(name))
        return fail(failure, INSTALL_BAD_NAME);
    char target[MAX_PATH];
    if (snprintf(target, sizeof target, "%s\\%s", folder, name) >= (int)sizeof target)
        return fail(failure, INSTALL_BAD_NAME);
    char request[300];
    snprintf(request, sizeof request, TEXT_REQUEST_FILE "%s", name);

    // One byte more than the answer's receive can fill, so the answer is always terminated.
    char *buffer = (char *)calloc(DATA_RECEIVE_SIZE + 1, 1);
    if (!buffer)
        return fail(failure, INSTALL_LOCAL_ERROR);
    int result =
        download_with_buffer(s, folder, target, request, progress, check, failure, channel, buffer);
    free(buffer);
    return result;
}

int download_text_to_memory(SOCKET s, const char *name, char *data, int capacity, int *failure,
                            int *channel)
{
    *failure = INSTALL_OK;
    *channel = CHANNEL_IN_STEP;
    if (!s || s == INVALID_SOCKET)
        return fail(failure, INSTALL_NO_CONNECTION) - 1;
    char request[300];
    if (!data || capacity < 0 ||
        snprintf(request, sizeof request, TEXT_REQUEST_FILE "%s", name) >= (int)sizeof request)
        return fail(failure, INSTALL_BAD_NAME) - 1;
    char *buffer = (char *)calloc(DATA_RECEIVE_SIZE + 1, 1);
    if (!buffer)
        return fail(failure, INSTALL_LOCAL_ERROR) - 1;
    memory_target memory = {data, capacity};
    int result = download_with_buffer(s, "", "", request, nullptr, nullptr, failure, channel,
                                      buffer, &memory);
    free(buffer);
    return *failure == INSTALL_OK ? result : -1;
}

int install_over_text(HWND main_window, HWND list_view, install_report *report)
{
    const char *folder = INSTALL_FOLDER_TEXT;
    int rows = 0;
    HANDLE lock = begin_pass_over_rows(main_window, list_view, report, &rows);
    if (!lock)
        return 0;
    // The refresh's connection may be gone (server restarted, a reopen that failed): the
    // pass opens its own rather than reporting nothing to do.
    int idle = g_channel_socket != 0;
    if (!g_channel_socket)
        open_text_channel();
    if (!g_channel_socket) {
        report_waiting_rows(list_view, report, INSTALL_NO_CONNECTION);
        release_install_lock(lock);
        return 0;
    }
    HWND progress = GetDlgItem(main_window, ID_PROGRESS_BAR);
    int installed = 0;
    int unreachable = 0;
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
        int failure = INSTALL_NO_CONNECTION;
        int channel = CHANNEL_IN_STEP;
        int size = 0;
        if (!g_channel_socket && !unreachable) {
            open_text_channel();
            unreachable = g_channel_socket == 0;
        }
        if (g_channel_socket) {
            size = download_file_text(g_channel_socket, folder, name, progress, &check, &failure,
                                      &channel);
            if (size <= 0 && failure != INSTALL_OK && channel == CHANNEL_NO_ANSWER && idle) {
                // The connection sat idle since the refresh, and a server limit, a NAT or a
                // firewall may have dropped it unseen: a file that got no byte back is tried
                // once more on a fresh connection.
                open_text_channel();
                if (g_channel_socket)
                    size = download_file_text(g_channel_socket, folder, name, progress, &check,
                                              &failure, &channel);
                else
                    failure = INSTALL_NO_CONNECTION;
            }
            idle = 0;
        }
        if (size <= 0 && failure != INSTALL_OK) {
            report_failure(report, name, failure);
            // After a broken transfer or an answer it could not use, the connection's next
            // bytes cannot be trusted: the next file gets a fresh one.
            if (channel != CHANNEL_IN_STEP)
                close_text_channel();
            continue;
        }
        ++installed;
        char size_text[16];
        snprintf(size_text, sizeof size_text, "%d", size);
        record_installed_row(list_view, report, row, name, size_text);
    }
    write_ledger(list_view);
    release_install_lock(lock);
    return installed;
}
