// Staging a download beside its target. The bytes go into a temporary file in the target's
// own folder (same volume, so the final move is a rename), with a running CRC-32 and size
// so the caller can check them before anything replaces the target. The target changes only
// in staged_file_commit, in one MoveFileExA; every failure path removes the temporary file.
//
// Use: staged_file_begin, any number of staged_file_write, then staged_file_commit or
// staged_file_abort. Both end the staging; calling either again afterwards does nothing.
#include "net/framed/staged_file.h"

#include <cstring>

#include "catalogue/file_checksum.h"
#include "net/framed/framed_transfer.h"

static const char TEMP_PREFIX[] = "pvs";

static void reset(staged_file *f)
{
    f->handle = INVALID_HANDLE_VALUE;
    f->temp_path[0] = '\0';
    f->crc = 0;
    f->size = 0;
    sha256_end(&f->sha);
    f->check_sha256 = 0;
    f->hash_broken = 0;
}

int staged_file_begin(staged_file *f, const char *target_path)
{
    if (f == nullptr)
        return 0;
    std::memset(f, 0, sizeof *f);
    reset(f);
    if (target_path == nullptr || target_path[0] == '\0' ||
        std::strlen(target_path) >= sizeof f->target_path)
        return 0;
    std::strcpy(f->target_path, target_path);

    // The folder part of the target, or the current folder for a bare name.
    char folder[MAX_PATH];
    std::strcpy(folder, target_path);
    char *cut = std::strrchr(folder, '\\');
    char *slash = std::strrchr(folder, '/');
    if (slash != nullptr && (cut == nullptr || slash > cut))
        cut = slash;
    if (cut != nullptr)
        cut[1] = '\0';
    else
        std::strcpy(folder, ".");

    // GetTempFileNameA creates a unique empty file, so two stagings never share one and the
    // temporary name stays short whatever the target's length.
    if (GetTempFileNameA(folder, TEMP_PREFIX, 0, f->temp_path) == 0) {
        f->temp_path[0] = '\0';
        return 0;
    }
    f->handle = CreateFileA(f->temp_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (f->handle == INVALID_HANDLE_VALUE) {
        DeleteFileA(f->temp_path);
        f->temp_path[0] = '\0';
        return 0;
    }
    return 1;
}

int staged_file_write(staged_file *f, const void *data, uint32_t length)
{
    if (f == nullptr || f->handle == INVALID_HANDLE_VALUE)
        return 0;
    const char *bytes = static_cast<const char *>(data);
    uint32_t done = 0;
    while (done < length) {
        DWORD written = 0;
        if (!WriteFile(f->handle, bytes + done, length - done, &written, nullptr) || written == 0)
            return 0;
        done += written;
    }
    if (length > 0) {
        f->crc = crc32_update(f->crc, data, length);
        f->size += length;
        if (f->check_sha256 && !f->hash_broken && !sha256_update(&f->sha, data, length))
            f->hash_broken = 1;
    }
    return 1;
}

void staged_file_expect(staged_file *f, const transfer_check *check)
{
    // Only a staging under way: one that failed to begin has nothing to end the hash.
    if (f == nullptr || check == nullptr || !check->check_sha256 || f->check_sha256 ||
        f->handle == INVALID_HANDLE_VALUE)
        return;
    f->check_sha256 = 1;
    std::memcpy(f->expected_sha256, check->sha256, sizeof f->expected_sha256);
    // Bytes already written would be missing from the hash; a failed start fails the commit.
    if (f->size != 0 || !sha256_begin(&f->sha))
        f->hash_broken = 1;
}

// Whether the staged bytes are what the publisher signed. Always ends the hash.
static int hash_matches(staged_file *f)
{
    if (!f->check_sha256)
        return 1;
    uint8_t digest[32];
    if (f->hash_broken || !sha256_finish(&f->sha, digest))
        return 0;
    return std::memcmp(digest, f->expected_sha256, sizeof digest) == 0;
}

static int is_in_use_error(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

int staged_file_commit(staged_file *f)
{
    if (f == nullptr || f->temp_path[0] == '\0')
        return INSTALL_LOCAL_ERROR;
    int flushed = 1;
    if (f->handle != INVALID_HANDLE_VALUE) {
        flushed = FlushFileBuffers(f->handle) != 0;
        flushed = CloseHandle(f->handle) != 0 && flushed;
        f->handle = INVALID_HANDLE_VALUE;
    }
    if (!flushed || !hash_matches(f)) {
        int reason = flushed ? INSTALL_SIGNATURE_MISMATCH : INSTALL_LOCAL_ERROR;
        DeleteFileA(f->temp_path);
        f->temp_path[0] = '\0';
        sha256_end(&f->sha);
        return reason;
    }
    // A target marked read-only is the user's decision, and Windows refuses to replace it as
    // "access denied"; asking first gives the same answer everywhere and a reason of its own,
    // since closing another program would not help.
    DWORD target = GetFileAttributesA(f->target_path);
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) &&
        !(target & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(f->temp_path);
        f->temp_path[0] = '\0';
        return INSTALL_READ_ONLY;
    }
    if (!MoveFileExA(f->temp_path, f->target_path,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileA(f->temp_path);
        f->temp_path[0] = '\0';
        sha256_end(&f->sha);
        return is_in_use_error(error) ? INSTALL_IN_USE : INSTALL_LOCAL_ERROR;
    }
    f->temp_path[0] = '\0';
    sha256_end(&f->sha);
    // The installed file must not inherit the staging file's hidden mark.
    DWORD attributes = GetFileAttributesA(f->target_path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN)) {
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
        SetFileAttributesA(f->target_path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    return INSTALL_OK;
}

void staged_file_abort(staged_file *f)
{
    if (f == nullptr)
        return;
    if (f->handle != INVALID_HANDLE_VALUE)
        CloseHandle(f->handle);
    if (f->temp_path[0] != '\0')
        DeleteFileA(f->temp_path);
    reset(f);
}
