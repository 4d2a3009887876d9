// The published library: a scan of the root folder, the catalogue text built from it, and
// the checksums cached between scans.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/text_protocol.h"
#include "server/platform_files.h"

enum {
    CATALOGUE_MAX_FILES = 15,
    // The client reads the text answer in one receive; the answer's status and the closing NUL
    // must fit in it as well.
    CATALOGUE_MAX_TEXT = TEXT_CATALOGUE_RECEIVE_SIZE - TEXT_ANSWER_PREFIX_LENGTH - 1,
};

struct library_file {
    std::string fs_name;    // name in the folder (UTF-8)
    std::string wire_name;  // the same name in code page 949
    std::string path;       // resolved path inside the root
    uint64_t size = 0;
    int64_t mtime_sec = 0;
    long mtime_nsec = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t crc = 0;
};

struct library_catalogue {
    std::vector<library_file> files;  // sorted by file system name
    std::string text;                 // records joined by "~|", no trailing separator
    bool has_manifest = false;        // the signed manifest: served, never listed
    library_file manifest;
};

struct catalogue_cache {
    std::string root;           // resolved root folder, no trailing slash
    library_catalogue current;  // last good scan
    bool have_current = false;
    std::map<std::string, library_file> known;  // checksums by file system name
    uint64_t bytes_checksummed = 0;             // for tests: what the cache did not spare
};

// Resolves the root folder. False with *error when it is not a readable folder.
bool open_catalogue_cache(catalogue_cache *cache, const std::string &root, std::string *error);

// Scans the folder. On success the scan becomes the current catalogue; on failure (a name
// the client cannot take, too many files, too long a catalogue, an unreadable file) the
// previous catalogue stays and *error names the cause.
bool refresh_catalogue(catalogue_cache *cache, std::string *error);

// One catalogue record: name^|crc^|size^|low^|high.
std::string catalogue_record(const library_file &file);

// The body of the framed catalogue answer. The client refuses fewer than two records there,
// so a one-file library gets a closing "~|" (the client skips the empty record after it).
std::string framed_catalogue_body(const library_catalogue &catalogue);

// The current catalogue's entry whose wire name is exactly name (or the manifest), or null.
const library_file *find_library_file(const catalogue_cache *cache, const std::string &name);

// Opens a catalogue file for reading after checking that it still resolves inside the root
// and is a regular file. False when it does not; otherwise *handle is open, size in *size.
bool open_library_file(const catalogue_cache *cache, const library_file &file, file_ref *handle,
                       uint64_t *size);
