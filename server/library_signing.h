// Writing the signed manifest for the files the server would publish from a folder.
#pragma once
#include <cstdint>
#include <string>

struct catalogue_cache;

struct signing_result {
    uint64_t sequence = 0;
    int files = 0;
};

// How long a signed manifest is accepted when the signing names no other number of days.
enum { SIGNING_EXPIRY_DEFAULT_DAYS = 90 };

// Signs the library in dir with the key in key_path and writes dir/Pavoset.manifest (by
// rename, so a running server never serves half of it). The sequence number is at least the
// previous manifest's plus one and at least now (UNIX seconds). expires_days 0: no expiry.
bool sign_library(const std::string &dir, const std::string &key_path, int expires_days,
                  int64_t now, signing_result *result, std::string *error);

// The sequence number of the manifest at path: 0 when there is none, false when one is there
// but cannot be read (guessing could let the number go backwards).
bool read_manifest_sequence(const std::string &path, uint64_t *sequence, std::string *error);

// The signed manifest of the scanned library in cache, as text, with a sequence above previous
// and at least now. Writes nothing; --sign and --export each put it where they publish.
bool signed_manifest_text(const catalogue_cache &cache, const std::string &key_path,
                          int expires_days, int64_t now, uint64_t previous, std::string *text,
                          signing_result *result, std::string *error);
