// One line per key: 16 lower-case hex digits naming the key (the first eight bytes of its X
// coordinate, as the registry value names do), a blank, the sequence in decimal, LF.
#include "catalogue/sequence_file.h"

#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>

// Larger than any file we write (eight keys of a key setting, with room for old ones): a
// bigger file is not ours to trust whole, and reading stops there.
enum { SEQUENCE_FILE_MAX = 4096, KEY_ID_LENGTH = 16, TEMP_NAME_TRIES = 32 };

static void key_id(const uint8_t key[64], char id[KEY_ID_LENGTH + 1])
{
    for (int i = 0; i < KEY_ID_LENGTH / 2; ++i)
        snprintf(id + 2 * i, 3, "%02x", key[i]);
}

static int file_path(const char *folder, const char *name, char *path, size_t capacity)
{
    if (!folder || !folder[0])
        return 0;
    size_t length = strlen(folder);
    const char *separator = folder[length - 1] == '\\' ? "" : "\\";
    int used = snprintf(path, capacity, "%s%s%s", folder, separator, name);
    return used > 0 && (size_t)used < capacity;
}

static std::string read_state(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    char buffer[SEQUENCE_FILE_MAX];
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr))
        got = 0;
    CloseHandle(file);
    return std::string(buffer, got);
}

// The sequence on the line of id, or 0. Lines that are not ours are skipped, never trusted.
static uint64_t sequence_in(const std::string &state, const char *id)
{
    size_t at = 0;
    while (at < state.size()) {
        size_t end = state.find('\n', at);
        if (end == std::string::npos)
            end = state.size();
        if (end - at > KEY_ID_LENGTH + 1 && state.compare(at, KEY_ID_LENGTH, id) == 0 &&
            state[at + KEY_ID_LENGTH] == ' ') {
            uint64_t value = 0;
            size_t i = at + KEY_ID_LENGTH + 1;
            int digits = 0;
            for (; i < end && state[i] >= '0' && state[i] <= '9'; ++i, ++digits) {
                uint64_t d = (uint64_t)(state[i] - '0');
                value = value > (UINT64_MAX - d) / 10 ? UINT64_MAX : value * 10 + d;
            }
            if (digits > 0 && i == end)
                return value;
        }
        at = end + 1;
    }
    return 0;
}

uint64_t folder_accepted_sequence(const char *folder, const uint8_t key[64])
{
    char path[MAX_PATH], id[KEY_ID_LENGTH + 1];
    if (!key || !file_path(folder, SEQUENCE_FILE_NAME, path, sizeof path))
        return 0;
    key_id(key, id);
    return sequence_in(read_state(path), id);
}

// A new hidden file with a name of the ledger's temporary family (pvl*.tmp), which the
// start-up cleanup of an install pass removes when a crash leaves it behind. Made in one
// step, hidden from its first moment; another name when one is taken.
static HANDLE create_hidden_temp(const char *folder, char *path)
{
    UINT base = (UINT)(GetTickCount() ^ (GetCurrentProcessId() << 4));
    for (UINT i = 0; i < TEMP_NAME_TRIES; ++i) {
        UINT unique = (base + i * 7919u) & 0xFFFFu;
        if (unique == 0)
            unique = 1;
        // With a unique number of its own, GetTempFileNameA only forms the name.
        if (!GetTempFileNameA(folder, "pvl", unique, path))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

int record_folder_sequence(const char *folder, const uint8_t key[64], uint64_t sequence)
{
    char path[MAX_PATH], id[KEY_ID_LENGTH + 1];
    if (!key || !file_path(folder, SEQUENCE_FILE_NAME, path, sizeof path))
        return 0;
    key_id(key, id);
    std::string old_state = read_state(path);
    if (sequence_in(old_state, id) >= sequence)
        return 1;

    // Every other key's line as it was, this key's line new.
    std::string state;
    size_t at = 0;
    while (at < old_state.size()) {
        size_t end = old_state.find('\n', at);
        if (end == std::string::npos)
            end = old_state.size();
        std::string line = old_state.substr(at, end - at);
        if (line.size() > KEY_ID_LENGTH && line.compare(0, KEY_ID_LENGTH, id) != 0)
            state += line + "\n";
        at = end + 1;
    }
    char line[64];
    snprintf(line, sizeof line, "%s %llu\n", id, (unsigned long long)sequence);
    state += line;
    if (state.size() > SEQUENCE_FILE_MAX)
        return 0;

    // The first verified manifest comes before the first install pass, which would make the
    // folder; an existing folder is the normal case.
    CreateDirectoryA(folder, nullptr);
    char temp_path[MAX_PATH];
    HANDLE file = create_hidden_temp(folder, temp_path);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, state.data(), (DWORD)state.size(), &written, nullptr) &&
              written == state.size();
    ok = FlushFileBuffers(file) && ok;
    CloseHandle(file);
    if (!ok || !MoveFileExA(temp_path, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp_path);
        return 0;
    }
    // The hidden mark came with the temporary name; the state file itself is an ordinary one.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return 1;
}
