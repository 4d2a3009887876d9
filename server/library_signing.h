// Writing the signed manifest for the files the server would publish from a folder.
#pragma once
#include <cstdint>
#include <string>

struct signing_result {
    uint64_t sequence = 0;
    int files = 0;
};

// Signs the library in dir with the key in key_path and writes dir/Pavoset.manifest (by
// rename, so a running server never serves half of it). The sequence number is at least the
// previous manifest's plus one and at least now (UNIX seconds). expires_days 0: no expiry.
bool sign_library(const std::string &dir, const std::string &key_path, int expires_days,
                  int64_t now, signing_result *result, std::string *error);
