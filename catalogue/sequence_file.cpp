// One line per key: 16 lower-case hex digits naming the key (the first eight bytes of its X
// coordinate, as the registry value names do), a blank, the sequence in decimal, LF.
#include "catalogue/sequence_file.h"

#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalogue/install_lock.h"
#include "net/framed/staged_file.h"

// How long a verification waits for the install lock to record its sequence: another run's
// record takes milliseconds; another run's whole install may take longer, and then the record
// is said to have failed rather than holding the retrieval.
enum { RECORD_LOCK_WAIT_MS = 5000 };

// Larger than any file we write (eight keys of a key setting, with room for old ones): a
// bigger file is not ours to trust whole, and reading stops there.
enum { SEQUENCE_FILE_MAX = 4096, KEY_ID_LENGTH = 16 };

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

// Read, compare and write, the caller holding the install lock.
static int record_locked(const char *path, const char *folder, const char *id, uint64_t sequence)
{
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
    // Staged and renamed into place as the ledger is, so a crash never leaves half a state.
    staged_file staged;
    if (!staged_file_begin(&staged, path))
        return 0;
    if (!staged_file_write(&staged, state.data(), (uint32_t)state.size())) {
        staged_file_abort(&staged);
        return 0;
    }
    return staged_file_commit(&staged) == INSTALL_OK;
}

int record_folder_sequence(const char *folder, const uint8_t key[64], uint64_t sequence)
{
    char path[MAX_PATH], id[KEY_ID_LENGTH + 1];
    if (!key || !file_path(folder, SEQUENCE_FILE_NAME, path, sizeof path))
        return 0;
    key_id(key, id);
    // Two runs verifying at once (two accounts, a window and the logon task) would each read
    // the old state and write their own: the slower would put a smaller number back. The
    // install lock makes the read, the comparison and the write one step.
    HANDLE lock = take_install_lock_within(RECORD_LOCK_WAIT_MS);
    if (!lock)
        return 0;
    int recorded = record_locked(path, folder, id, sequence);
    release_install_lock(lock);
    return recorded;
}
