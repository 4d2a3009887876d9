// Staging a download beside its target. The bytes go into a temporary file in the target's
// own folder (same volume, so the final move is a rename), with a running CRC-32 and size
// so the caller can check them before anything replaces the target. The temporary file is
// born hidden and held open without sharing from its creation to its rename, and the rename
// goes through that same handle: the bytes that were checked are the bytes installed. The
// target changes only in staged_file_commit; every failure path removes the temporary file.
//
// Use: staged_file_begin, any number of staged_file_write, then staged_file_commit or
// staged_file_abort. Both end the staging; calling either again afterwards does nothing.
#include "net/framed/staged_file.h"

#include <cstdio>
#include <cstring>

#include "core/file_checksum.h"
#include "net/framed/framed_transfer.h"
#include "net/framed/reparse_guard.h"

static const char TEMP_PREFIX[] = "pvs";

void (*g_before_replacement)(const staged_file *f) = nullptr;

// Names tried before giving up: a collision is rare, a folder that refuses every name is not
// worth more tries.
enum { NAME_TRIES = 64 };

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

// Creates f's temporary file in folder in one step, hidden from its first moment: a kill at
// any point leaves nothing visible that start-up cleanup would not recognise. The name is
// ours, prefix and eight hex digits (remove_staging_leftovers knows the shape); CREATE_NEW
// never takes over an existing file, and a name in use gets another. (Making the file first
// and reopening it hidden is not the same: Wine does not mark a file it truncates.) No
// sharing at all: nobody can write the bytes between their check and the rename. DELETE
// access lets the rename go through this handle.
static int create_hidden_temp_file(const char *folder, const char *prefix, staged_file *f)
{
    static volatile LONG counter = 0;
    DWORD seed = GetCurrentProcessId() * 0x9E3779B1u ^ GetTickCount();
    size_t length = std::strlen(folder);
    const char *separator =
        length > 0 && folder[length - 1] != '\\' && folder[length - 1] != '/' ? "\\" : "";
    for (int i = 0; i < NAME_TRIES; i++) {
        DWORD value = seed ^ (static_cast<DWORD>(InterlockedIncrement(&counter)) * 0x85EBCA6Bu);
        int written = std::snprintf(f->temp_path, sizeof f->temp_path, "%s%s%s%08lX.tmp", folder,
                                    separator, prefix, static_cast<unsigned long>(value));
        if (written < 0 || written >= static_cast<int>(sizeof f->temp_path))
            return 0;
        f->handle = CreateFileA(f->temp_path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (f->handle != INVALID_HANDLE_VALUE)
            return 1;
        DWORD error = GetLastError();
        // A name in use (or a file of that name waiting to be deleted): another name.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
            error != ERROR_ACCESS_DENIED)
            return 0;
    }
    return 0;
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

    // A link in place of the folder or of the target would carry the write elsewhere. (The
    // temporary file, held open inside the folder, keeps the folder from being renamed away.)
    if (is_reparse_point(folder) || is_reparse_point(target_path))
        return 0;
    if (!create_hidden_temp_file(folder, TEMP_PREFIX, f)) {
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

// Ends a staging that will not be installed: the temporary file goes, the target stays.
static int discard(staged_file *f, int reason)
{
    if (f->handle != INVALID_HANDLE_VALUE)
        CloseHandle(f->handle);
    f->handle = INVALID_HANDLE_VALUE;
    DeleteFileA(f->temp_path);
    f->temp_path[0] = '\0';
    sha256_end(&f->sha);
    return reason;
}

// Errors by which a system says it does not rename through a handle at all (as opposed to
// refusing this rename): only these fall back to renaming by name.
static int is_unsupported_error(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Renames the open temporary file over the target through its own handle, and takes off the
// hidden mark through it too. ERROR_SUCCESS, or the system's error (the file is unchanged).
// Wine 8 does this as Windows does, full path included, and refuses a target held open
// without delete sharing with ERROR_ACCESS_DENIED.
static DWORD rename_through_handle(staged_file *f)
{
    wchar_t target[MAX_PATH];
    int characters = MultiByteToWideChar(CP_ACP, 0, f->target_path, -1, target, MAX_PATH);
    if (characters <= 0)
        return ERROR_INVALID_NAME;
    // The structure ends in the name; room for the whole name and its terminator.
    union {
        FILE_RENAME_INFO info;
        char bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(wchar_t)];
    } rename;
    std::memset(&rename, 0, sizeof rename);
    rename.info.ReplaceIfExists = TRUE;
    rename.info.RootDirectory = nullptr;
    rename.info.FileNameLength = static_cast<DWORD>((characters - 1) * sizeof(wchar_t));
    std::memcpy(rename.info.FileName, target, static_cast<size_t>(characters) * sizeof(wchar_t));
    if (!SetFileInformationByHandle(f->handle, FileRenameInfo, &rename, sizeof rename))
        return GetLastError();
    // Zero times leave the times as they are; only the attributes change.
    FILE_BASIC_INFO basic;
    std::memset(&basic, 0, sizeof basic);
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(f->handle, FileBasicInfo, &basic, sizeof basic);
    return ERROR_SUCCESS;
}

// The installed file must not keep the staging file's hidden mark.
static void unhide_target(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN)) {
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
        SetFileAttributesA(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
}

int staged_file_commit(staged_file *f)
{
    if (f == nullptr || f->temp_path[0] == '\0')
        return INSTALL_LOCAL_ERROR;
    if (f->handle == INVALID_HANDLE_VALUE)
        return discard(f, INSTALL_LOCAL_ERROR);
    // The handle stays open from here to the rename, without sharing: what is checked now is
    // what replaces the target.
    if (!FlushFileBuffers(f->handle))
        return discard(f, INSTALL_LOCAL_ERROR);
    if (!hash_matches(f))
        return discard(f, INSTALL_SIGNATURE_MISMATCH);
    // A target marked read-only is the user's decision, and Windows refuses to replace it as
    // "access denied"; asking first gives the same answer everywhere and a reason of its own,
    // since closing another program would not help.
    DWORD target = GetFileAttributesA(f->target_path);
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) &&
        !(target & FILE_ATTRIBUTE_DIRECTORY))
        return discard(f, INSTALL_READ_ONLY);
    if (g_before_replacement != nullptr)
        g_before_replacement(f);
    DWORD error = rename_through_handle(f);
    if (error == ERROR_SUCCESS) {
        CloseHandle(f->handle);
        f->handle = INVALID_HANDLE_VALUE;
        f->temp_path[0] = '\0';
        sha256_end(&f->sha);
        unhide_target(f->target_path);  // where the attributes could not be set by the handle
        return INSTALL_OK;
    }
    if (!is_unsupported_error(error))
        return discard(f, is_in_use_error(error) ? INSTALL_IN_USE : INSTALL_LOCAL_ERROR);
    // A system (or a file system) that cannot rename through a handle: the rename by name, as
    // before. The file is closed for it, so a writer could slip in between the check and the
    // move here; only here.
    CloseHandle(f->handle);
    f->handle = INVALID_HANDLE_VALUE;
    if (!MoveFileExA(f->temp_path, f->target_path,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        return discard(f, is_in_use_error(error) ? INSTALL_IN_USE : INSTALL_LOCAL_ERROR);
    }
    f->temp_path[0] = '\0';
    sha256_end(&f->sha);
    unhide_target(f->target_path);
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
