// Writing a library folder as the static folder a web server, object store or CDN serves
// (the layout of core/static_layout.h), for clients that fetch it over HTTP(S).
#pragma once
#include <cstdint>
#include <string>

#include "server/library_signing.h"

struct export_request {
    std::string library;   // the library folder, scanned as the server scans it
    std::string out;       // the static folder, created when missing
    std::string key_path;  // signs the export when set; else a signed library's manifest is kept
    int expires_days =
        SIGNING_EXPIRY_DEFAULT_DAYS;  // with key_path: days until the manifest expires (0 never)
    int64_t now = 0;                  // UNIX seconds, for the manifest's sequence number
};

struct export_result {
    int files = 0;          // files in the catalogue
    int files_written = 0;  // of which were not already in out
    uint64_t bytes_written = 0;
    bool has_manifest = false;
    uint64_t sequence = 0;  // the new manifest's, when signed here
};

// Writes out's files first, then catalogue.txt and Pavoset.manifest, each through a temporary
// file and a rename: a web server serving out meanwhile shows the old catalogue or the new one,
// and both only ever name files that are whole. Files of earlier exports stay, so a client
// still working from the old catalogue finds every file it names.
bool export_library(const export_request &request, export_result *result, std::string *error);
