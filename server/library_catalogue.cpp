#include "server/library_catalogue.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/file_checksum.h"
#include "core/manifest.h"
#include "core/name_case.h"
#include "core/text_protocol.h"
#include "server/file_time.h"
#include "server/server_log.h"
#include "server/wire_name.h"

static bool inside_root(const std::string &root, const std::string &path)
{
    return path.size() > root.size() + 1 && path.compare(0, root.size(), root) == 0 &&
           path[root.size()] == '/' && path.find('/', root.size() + 1) == std::string::npos;
}

static std::string resolve(const std::string &path)
{
    return resolve_path(path);
}

bool open_catalogue_cache(catalogue_cache *cache, const std::string &root, std::string *error)
{
    std::string resolved = resolve(root);
    file_facts facts;
    if (resolved.empty() || !path_facts(resolved, true, &facts) || !facts.folder) {
        *error = "library folder " + root + " is not a readable folder";
        return false;
    }
    if (resolved != "/" && resolved.back() == '/')
        resolved.pop_back();
    cache->root = resolved == "/" ? std::string() : resolved;
    cache->current = library_catalogue();
    cache->have_current = false;
    cache->known.clear();
    return true;
}

// The CRC of a file, read through a descriptor so a file swapped mid-scan is noticed.
static bool checksum_file(const std::string &path, const file_facts &expected, uint32_t *crc,
                          uint64_t *read_bytes)
{
    file_ref fd;
    if (!open_for_reading(path, false, &fd))
        return false;
    file_facts facts;
    if (!handle_facts(fd, &facts) || facts.inode != expected.inode || facts.size != expected.size) {
        close_file(fd);
        return false;
    }
    std::vector<unsigned char> buffer(1 << 16);
    uint32_t value = 0;
    uint64_t total = 0;
    for (;;) {
        long long n = read_file(fd, buffer.data(), buffer.size());
        if (n < 0) {
            close_file(fd);
            return false;
        }
        if (n == 0)
            break;
        value = crc32_update(value, buffer.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
    }
    close_file(fd);
    *read_bytes += total;
    if (total != expected.size)
        return false;
    *crc = value;
    return true;
}

std::string catalogue_record(const library_file &file)
{
    uint64_t filetime = filetime_from_unix(file.mtime_sec, file.mtime_nsec);
    std::string record = file.wire_name;
    record += TEXT_FIELD_SEPARATOR + std::to_string(file.crc);
    record += TEXT_FIELD_SEPARATOR + std::to_string(file.size);
    record += TEXT_FIELD_SEPARATOR + std::to_string(filetime_low_signed(filetime));
    record += TEXT_FIELD_SEPARATOR + std::to_string(filetime_high_signed(filetime));
    return record;
}

std::string framed_catalogue_body(const library_catalogue &catalogue)
{
    if (catalogue.files.size() == 1)
        return catalogue.text + TEXT_RECORD_SEPARATOR;
    return catalogue.text;
}

bool refresh_catalogue(catalogue_cache *cache, std::string *error)
{
    std::vector<std::string> names;
    std::string why;
    if (!list_folder(cache->root.empty() ? "/" : cache->root, &names, &why)) {
        *error = "cannot read library folder " + cache->root + ": " + why;
        return false;
    }
    // Names reach the log and the terminal: control bytes in them are shown as '?'.
    auto shown = [](const std::string &name) { return printable(name, 300); };
    std::sort(names.begin(), names.end());

    library_catalogue scan;
    std::map<std::string, library_file> known;
    // Wire name and folder name of each file so far: Windows folds letter case over the whole
    // name, so two names that differ only so collide.
    std::vector<std::pair<std::string, std::string>> taken;
    for (const std::string &name : names) {
        std::string path = cache->root + "/" + name;
        file_facts lst;
        if (!path_facts(path, false, &lst))
            continue;  // vanished while scanning
        if (lst.link) {
            // A link is published only when it stays inside the root and names a regular file.
            std::string target = resolve(path);
            file_facts tst;
            if (target.empty() || !inside_root(cache->root, target) ||
                !path_facts(target, true, &tst) || !tst.regular) {
                *error = "link " + shown(name) +
                         " leads outside the library folder or to no regular file";
                return false;
            }
        } else if (!lst.regular) {
            continue;  // folders, sockets and the like are not library files
        }
        library_file file;
        file.fs_name = name;
        std::string reason;
        if (!wire_name_from_utf8(name, &file.wire_name, &reason)) {
            *error = "file " + shown(name) + ": " + reason;
            return false;
        }
        reason = wire_name_problem(file.wire_name);
        if (!reason.empty()) {
            *error = "file " + shown(name) + ": " + reason;
            return false;
        }
        // The manifest and its file being written are served apart from the catalogue; a
        // library file named like the manifest would be the same file on Windows.
        if (name == MANIFEST_FILE_NAME ".tmp")
            continue;
        if (name != MANIFEST_FILE_NAME &&
            library_names_same_file(file.wire_name.c_str(), MANIFEST_FILE_NAME)) {
            *error = "file " + shown(name) + ": name reserved for the manifest";
            return false;
        }
        for (const auto &earlier : taken) {
            if (library_names_same_file(earlier.first.c_str(), file.wire_name.c_str())) {
                *error = "files " + shown(earlier.second) + " and " + shown(name) +
                         " differ only in letter case";
                return false;
            }
        }
        taken.emplace_back(file.wire_name, name);
        if (scan.files.size() == CATALOGUE_MAX_FILES && name != MANIFEST_FILE_NAME) {
            *error = "more than 15 files in the library folder (at " + shown(name) + ")";
            return false;
        }
        file.path = resolve(path);
        file_facts st;
        if (file.path.empty() || !path_facts(file.path, true, &st)) {
            *error = "file " + shown(name) + " cannot be examined: " + last_file_error();
            return false;
        }
        if (st.size > INT32_MAX) {
            // The client reads the size as a signed 32-bit number.
            *error = "file " + shown(name) + " is 2 GiB or larger";
            return false;
        }
        file.size = st.size;
        file.mtime_sec = st.mtime_sec;
        file.mtime_nsec = st.mtime_nsec;
        file.device = st.device;
        file.inode = st.inode;
        auto cached = cache->known.find(name);
        if (cached != cache->known.end() && cached->second.size == file.size &&
            cached->second.mtime_sec == file.mtime_sec &&
            cached->second.mtime_nsec == file.mtime_nsec && cached->second.inode == file.inode &&
            cached->second.device == file.device) {
            file.crc = cached->second.crc;
        } else if (!checksum_file(file.path, st, &file.crc, &cache->bytes_checksummed)) {
            *error = "file " + shown(name) + " cannot be read (or changed while being read)";
            return false;
        }
        known[name] = file;
        if (name == MANIFEST_FILE_NAME) {
            scan.has_manifest = true;
            scan.manifest = file;
            continue;
        }
        scan.files.push_back(file);
    }
    for (size_t i = 0; i < scan.files.size(); ++i) {
        if (i)
            scan.text += TEXT_RECORD_SEPARATOR;
        scan.text += catalogue_record(scan.files[i]);
    }
    if (scan.text.size() > CATALOGUE_MAX_TEXT) {
        *error = "catalogue of " + std::to_string(scan.text.size()) +
                 " bytes does not fit the client's " + std::to_string(TEXT_CATALOGUE_RECEIVE_SIZE) +
                 "-byte answer";
        return false;
    }
    cache->current = scan;
    cache->have_current = true;
    cache->known.swap(known);
    return true;
}

const library_file *find_library_file(const catalogue_cache *cache, const std::string &name)
{
    for (const library_file &file : cache->current.files)
        if (file.wire_name == name)
            return &file;
    if (cache->current.has_manifest && name == MANIFEST_FILE_NAME)
        return &cache->current.manifest;
    return nullptr;
}

bool open_library_file(const catalogue_cache *cache, const library_file &file, file_ref *handle,
                       uint64_t *size)
{
    // Resolve again: the folder may have changed since the scan.
    std::string path = resolve(cache->root + "/" + file.fs_name);
    if (path.empty() || !inside_root(cache->root, path))
        return false;
    file_ref fd;
    if (!open_for_reading(path, true, &fd))
        return false;
    file_facts st;
    if (!handle_facts(fd, &st) || !st.regular || st.size > INT32_MAX) {
        close_file(fd);
        return false;
    }
    *handle = fd;
    *size = st.size;
    return true;
}
