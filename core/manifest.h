// The signed library manifest: what the publisher vouches for, file by file. Plain parsing
// and formatting only; the signature is checked by the caller's cryptography (the client's
// system library, the server's signing tool). The format is described in docs/manifest.md.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include "core/library_name.h"

// Served beside the library under this name; the catalogue never lists it.
#define MANIFEST_FILE_NAME "Pavoset.manifest"

enum {
    MANIFEST_MAX_BYTES = 32768,
    MANIFEST_MAX_FILES = 64,
    SHA256_SIZE = 32,
    SIGNATURE_SIZE = 64,   // r || s, 32 bytes each, big-endian
    PUBLIC_KEY_SIZE = 64,  // X || Y of the P-256 point, 32 bytes each, big-endian
};

struct manifest_file {
    char name[LIBRARY_NAME_MAX + 1];  // as the catalogue spells it (code page 949 bytes)
    uint64_t size;
    uint64_t file_time;  // Windows file time; informative, not enforced
    uint8_t sha256[SHA256_SIZE];
};

struct manifest {
    uint64_t sequence;
    int has_expiry;
    uint64_t expires;  // UNIX seconds, UTC; valid while now < expires
    int file_count;
    manifest_file files[MANIFEST_MAX_FILES];
    size_t signed_length;  // the signature covers text[0, signed_length)
    uint8_t signature[SIGNATURE_SIZE];
};

enum manifest_parse_result {
    MANIFEST_OK = 0,
    MANIFEST_TOO_LARGE,
    MANIFEST_BAD_FORMAT,  // wrong header, line, number or hash
    MANIFEST_BAD_NAME,    // unsafe, reserved or duplicate file name
    MANIFEST_TOO_MANY_FILES,
    MANIFEST_UNSIGNED,  // no signature line, or one that is not 64 bytes of base64
};

// Parses length bytes (no terminator needed). On MANIFEST_OK *out is filled; on any other
// result *out holds nothing usable.
int parse_manifest(const char *text, size_t length, manifest *out);

// The entry that names the same file as name on Windows (letter case folded), or null.
const manifest_file *manifest_find(const manifest *m, const char *name);

// The text the signature covers: every line before the signature line.
std::string format_manifest_body(const manifest *m);
// The signature line that closes the manifest.
std::string format_signature_line(const uint8_t signature[SIGNATURE_SIZE]);

// Reads one base64 public key (64 bytes) from text[0, length). 1 on success.
int parse_public_key(const char *text, size_t length, uint8_t key[PUBLIC_KEY_SIZE]);
