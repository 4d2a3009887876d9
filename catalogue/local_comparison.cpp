#include "catalogue/local_comparison.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "catalogue/catalogue.h"
#include "catalogue/manifest_check.h"
#include "core/decimal_text.h"
#include "core/field_split.h"
#include "core/file_checksum.h"
#include "core/library_name.h"
#include "core/sha256.h"
#include "res/texts.h"


int crc_check_waived(const char *name)
{
    return has_suffix(name, "xla") || has_suffix(name, "xls");
}

static int set_status(char *status, const char *text, int result)
{
    if (status)
        lstrcpynA(status, text, 7);
    return result;
}

enum { SHA_PIECE_SIZE = 1 << 16, FALLBACK_PIECE_SIZE = 4096 };

// 1 and digest set when the whole file was read. Two threads may compare at once: each call
// reads into a piece of its own.
static int file_sha256(const char *path, uint8_t digest[SHA256_SIZE])
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    char fallback[FALLBACK_PIECE_SIZE];
    char *piece = (char *)malloc(SHA_PIECE_SIZE);
    DWORD capacity = piece ? (DWORD)SHA_PIECE_SIZE : (DWORD)sizeof fallback;
    if (!piece)
        piece = fallback;
    sha256_state state;
    int ok = sha256_begin(&state);
    DWORD got = 0;
    BOOL read = TRUE;
    while (ok && (read = ReadFile(file, piece, capacity, &got, nullptr)) && got > 0)
        ok = sha256_update(&state, piece, got);
    CloseHandle(file);
    if (piece != fallback)
        free(piece);
    if (!ok || !read) {
        sha256_end(&state);
        return 0;
    }
    return sha256_finish(&state, digest);
}

int compare_local_file(const char *name, const char *crc_text, const char *size_text,
                       char *current_size, char *status)
{
    if (current_size)
        current_size[0] = 0;
    if (status)
        status[0] = 0;
    // A name that could reach outside the install folder is never looked up: it shows as
    // New and the installers refuse it.
    if (!library_name_is_safe(name)) {
        return set_status(status, TEXT_STATUS_NEW, LOCAL_NEW);
    }
    char path[MAX_PATH];
    snprintf(path, sizeof path, LIBRARY_FOLDER "%s", name);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        return set_status(status, TEXT_STATUS_NEW, LOCAL_NEW);
    }
    if (current_size)
        snprintf(current_size, 16, "%d", (int)data.nFileSizeLow);

    uint32_t wanted_crc = parse_u32_saturated(crc_text);
    int32_t wanted_size = parse_i32_saturated(size_text);
    if ((int32_t)data.nFileSizeLow != wanted_size)
        return set_status(status, TEXT_STATUS_CHANGED, LOCAL_CHANGED);
    // With a verified manifest the installed bytes are held to the SHA-256 the publisher
    // signed: a size and a CRC-32 are easily forged, and .xla/.xls have no CRC check at all.
    // The hash then stands for the CRC too, so each file is read once.
    uint8_t signed_digest[SHA256_SIZE], digest[SHA256_SIZE];
    int listed = signed_file_digest(name, signed_digest);
    if (listed != 0) {
        if (listed > 0 && file_sha256(path, digest) &&
            memcmp(digest, signed_digest, SHA256_SIZE) == 0)
            return set_status(status, TEXT_STATUS_MATCH, LOCAL_MATCH);
        return set_status(status, TEXT_STATUS_CHANGED, LOCAL_NOT_AS_SIGNED);
    }
    uint32_t crc = 0;
    // A folder of that name, or a file locked against reading, cannot be checked: let the
    // installer try it and report what happens.
    if (file_crc32(path, &crc) != 0)
        return set_status(status, TEXT_STATUS_CHANGED, LOCAL_CHANGED);
    if (crc == wanted_crc || crc_check_waived(name))
        return set_status(status, TEXT_STATUS_MATCH, LOCAL_MATCH);
    return set_status(status, TEXT_STATUS_CHANGED, LOCAL_CHANGED);
}
