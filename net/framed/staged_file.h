// Receiving a file beside its target and replacing the target only when it is complete
// and checked, so a failed transfer never leaves a damaged file in place of a good one.
#pragma once
#include <windows.h>
#include <cstdint>
#include "core/sha256.h"

struct transfer_check;

// Why a file was not installed; the install passes report these to the user.
enum install_failure {
    INSTALL_OK = 0,
    INSTALL_BAD_NAME,            // the name could reach outside the install folder, or is too long
    INSTALL_NO_CONNECTION,       // no connection to the server
    INSTALL_REFUSED,             // the server refused the file
    INSTALL_BROKEN,              // the transfer broke off (closed, error, time-out)
    INSTALL_DAMAGED,             // size or CRC-32 differ from the catalogue
    INSTALL_IN_USE,              // the target is held open by another program
    INSTALL_LOCAL_ERROR,         // the temporary file could not be made or written
    INSTALL_NOT_SIGNED,          // the publisher's manifest does not list the file
    INSTALL_SIGNATURE_MISMATCH,  // size or SHA-256 differ from the publisher's manifest
    INSTALL_UNVERIFIED,          // a publisher key is configured but no manifest verified
    INSTALL_READ_ONLY,           // the target is marked read-only
    INSTALL_LOCKED,              // another instance is installing into the folder
    INSTALL_TOO_SLOW,            // the transfer stayed below the minimum rate: abandoned
};

struct staged_file {
    HANDLE handle;
    char temp_path[MAX_PATH];
    char target_path[MAX_PATH];
    uint32_t crc;      // CRC-32 of the bytes written so far
    uint64_t size;     // bytes written so far
    int check_sha256;  // commit only when the bytes' SHA-256 equals expected_sha256
    int hash_broken;   // the hash could not be computed: nothing may be committed
    sha256_state sha;
    uint8_t expected_sha256[32];
};

// Creates a hidden temporary file in the target's folder. 1 on success.
int staged_file_begin(staged_file *f, const char *target_path);
int staged_file_write(staged_file *f, const void *data, uint32_t length);  // 1 on success
// Hashes the bytes from here on when check asks for a SHA-256 (the publisher's manifest);
// call right after staged_file_begin. Without such a check (or check null) nothing changes.
void staged_file_expect(staged_file *f, const transfer_check *check);
// Renames the temporary file over the target through its own handle, held open without
// sharing since it was created (MoveFileExA after closing it only where the system cannot).
// INSTALL_OK, INSTALL_IN_USE (sharing/access violation on the target), INSTALL_READ_ONLY
// (the target is marked read-only), INSTALL_LOCAL_ERROR or INSTALL_SIGNATURE_MISMATCH (an
// expected SHA-256 differs); on failure the temporary file is removed and the target is
// untouched.
int staged_file_commit(staged_file *f);
void staged_file_abort(staged_file *f);  // closes and deletes the temporary file

// Called (when set) in staged_file_commit once the checks have passed, right before the
// target is replaced, with the staged file still open as it was written. Tests look there.
extern void (*g_before_replacement)(const staged_file *f);
