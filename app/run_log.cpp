#include "app/run_log.h"

#include "app/control_characters.h"

#include <windows.h>
#include <shlobj.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

static const char LOG_NAME[] = "Pavoset.log";
static const char OLD_LOG_NAME[] = "Pavoset.old.log";

// Several threads log (the window, the retrieval, the worker); one line at a time.
static SRWLOCK g_log_lock = SRWLOCK_INIT;
static char g_log_folder[MAX_PATH] = {0};

void run_log_set_folder(const char *folder)
{
    AcquireSRWLockExclusive(&g_log_lock);
    g_log_folder[0] = 0;
    if (folder && strlen(folder) < sizeof g_log_folder)
        strcpy(g_log_folder, folder);
    ReleaseSRWLockExclusive(&g_log_lock);
}

static int log_folder(char *out, int capacity)
{
    if (g_log_folder[0]) {
        snprintf(out, capacity, "%s", g_log_folder);
        return 1;
    }
    char base[MAX_PATH] = {0};
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, base) != S_OK || !base[0])
        return 0;
    int written = snprintf(out, capacity, "%s\\Pavoset", base);
    return written > 0 && written < capacity;
}

static int file_in_folder(const char *folder, const char *name, char *out, int capacity)
{
    int written = snprintf(out, capacity, "%s\\%s", folder, name);
    return written > 0 && written < capacity;
}

int run_log_path(char *out, int capacity)
{
    char folder[MAX_PATH];
    if (!out || capacity <= 0 || !log_folder(folder, sizeof folder))
        return 0;
    return file_in_folder(folder, LOG_NAME, out, capacity);
}

// Cuts text to at most limit bytes without splitting a two-byte character.
static size_t whole_characters(const char *text, size_t length, size_t limit)
{
    size_t i = 0;
    while (i < length) {
        size_t step = IsDBCSLeadByteEx(949, (BYTE)text[i]) ? 2 : 1;
        // A lead byte whose second half was cut off by the formatting goes too.
        if (i + step > limit || i + step > length)
            break;
        i += step;
    }
    return i;
}

void run_log(const char *format, ...)
{
    char line[RUN_LOG_LINE_MAX + 64];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int head = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u [%lu] ", now.wYear,
                        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                        (unsigned long)GetCurrentProcessId());
    if (head < 0)
        return;
    char body[RUN_LOG_LINE_MAX + 1];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(body, sizeof body, format, args);
    va_end(args);
    if (length < 0)
        return;
    size_t kept = whole_characters(body, strnlen(body, sizeof body), RUN_LOG_LINE_MAX);
    // A line break inside a value (a hostile file name) must not forge a line of its own.
    replace_control_characters(body, kept);
    memcpy(line + head, body, kept);
    memcpy(line + head + kept, "\r\n", 2);
    DWORD total = (DWORD)(head + kept + 2);

    AcquireSRWLockExclusive(&g_log_lock);
    char folder[MAX_PATH], path[MAX_PATH], old_path[MAX_PATH];
    if (log_folder(folder, sizeof folder) && file_in_folder(folder, LOG_NAME, path, sizeof path) &&
        file_in_folder(folder, OLD_LOG_NAME, old_path, sizeof old_path)) {
        CreateDirectoryA(folder, nullptr);  // an existing folder is the normal case
        WIN32_FILE_ATTRIBUTE_DATA info;
        if (GetFileAttributesExA(path, GetFileExInfoStandard, &info) &&
            (info.nFileSizeHigh != 0 || info.nFileSizeLow + total > RUN_LOG_LIMIT))
            MoveFileExA(path, old_path, MOVEFILE_REPLACE_EXISTING);
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line, total, &written, nullptr);
            CloseHandle(file);
        }
    }
    ReleaseSRWLockExclusive(&g_log_lock);
}
