#include "server/library_catalogue.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalogue/file_checksum.h"
#include "catalogue/manifest.h"
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
    char buffer[PATH_MAX];
    if (!realpath(path.c_str(), buffer))
        return std::string();
    return buffer;
}

bool open_catalogue_cache(catalogue_cache *cache, const std::string &root, std::string *error)
{
    std::string resolved = resolve(root);
    struct stat st;
    if (resolved.empty() || stat(resolved.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
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
static bool checksum_file(const std::string &path, const struct stat &expected, uint32_t *crc,
                          uint64_t *read_bytes)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_ino != expected.st_ino || st.st_size != expected.st_size) {
        close(fd);
        return false;
    }
    std::vector<unsigned char> buffer(1 << 16);
    uint32_t value = 0;
    uint64_t total = 0;
    for (;;) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        value = crc32_update(value, buffer.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
    }
    close(fd);
    *read_bytes += total;
    if (total != static_cast<uint64_t>(expected.st_size))
        return false;
    *crc = value;
    return true;
}

std::string catalogue_record(const library_file &file)
{
    uint64_t filetime = filetime_from_unix(file.mtime_sec, file.mtime_nsec);
    std::string record = file.wire_name;
    record += "^|" + std::to_string(file.crc);
    record += "^|" + std::to_string(file.size);
    record += "^|" + std::to_string(filetime_low_signed(filetime));
    record += "^|" + std::to_string(filetime_high_signed(filetime));
    return record;
}

std::string framed_catalogue_body(const library_catalogue &catalogue)
{
    if (catalogue.files.size() == 1)
        return catalogue.text + "~|";
    return catalogue.text;
}

bool refresh_catalogue(catalogue_cache *cache, std::string *error)
{
    DIR *dir = opendir(cache->root.empty() ? "/" : cache->root.c_str());
    if (!dir) {
        *error = "cannot read library folder " + cache->root + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    // Names reach the log and the terminal: control bytes in them are shown as '?'.
    auto shown = [](const std::string &name) { return printable(name, 300); };
    while (struct dirent *entry = readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, ".."))
            continue;
        names.push_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());

    library_catalogue scan;
    std::map<std::string, library_file> known;
    std::map<std::string, std::string> folded;  // Windows folds case: two such names collide
    for (const std::string &name : names) {
        std::string path = cache->root + "/" + name;
        struct stat lst;
        if (lstat(path.c_str(), &lst) != 0)
            continue;  // vanished while scanning
        if (S_ISLNK(lst.st_mode)) {
            // A link is published only when it stays inside the root and names a regular file.
            std::string target = resolve(path);
            struct stat tst;
            if (target.empty() || !inside_root(cache->root, target) || stat(target.c_str(), &tst) != 0 ||
                !S_ISREG(tst.st_mode)) {
                *error = "link " + shown(name) + " leads outside the library folder or to no regular file";
                return false;
            }
        } else if (!S_ISREG(lst.st_mode)) {
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
        std::string fold = file.wire_name;
        for (char &c : fold)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        // The manifest and its file being written are served apart from the catalogue; a
        // library file named like the manifest would be the same file on Windows.
        if (name == MANIFEST_FILE_NAME ".tmp")
            continue;
        if (fold == "PAVOSET.MANIFEST" && name != MANIFEST_FILE_NAME) {
            *error = "file " + shown(name) + ": name reserved for the manifest";
            return false;
        }
        if (folded.count(fold)) {
            *error = "files " + shown(folded[fold]) + " and " + shown(name) + " differ only in letter case";
            return false;
        }
        folded[fold] = name;
        if (scan.files.size() == CATALOGUE_MAX_FILES && name != MANIFEST_FILE_NAME) {
            *error = "more than 15 files in the library folder (at " + shown(name) + ")";
            return false;
        }
        file.path = resolve(path);
        struct stat st;
        if (file.path.empty() || stat(file.path.c_str(), &st) != 0) {
            *error = "file " + shown(name) + " cannot be examined: " + std::strerror(errno);
            return false;
        }
        if (st.st_size > INT32_MAX) {
            // The client reads the size as a signed 32-bit number.
            *error = "file " + shown(name) + " is 2 GiB or larger";
            return false;
        }
        file.size = static_cast<uint64_t>(st.st_size);
        file.mtime_sec = st.st_mtim.tv_sec;
        file.mtime_nsec = st.st_mtim.tv_nsec;
        file.device = st.st_dev;
        file.inode = st.st_ino;
        auto cached = cache->known.find(name);
        if (cached != cache->known.end() && cached->second.size == file.size &&
            cached->second.mtime_sec == file.mtime_sec && cached->second.mtime_nsec == file.mtime_nsec &&
            cached->second.inode == file.inode && cached->second.device == file.device) {
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
            scan.text += "~|";
        scan.text += catalogue_record(scan.files[i]);
    }
    if (scan.text.size() > CATALOGUE_MAX_TEXT) {
        *error = "catalogue of " + std::to_string(scan.text.size()) +
                 " bytes does not fit the client's 2048-byte answer";
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

int open_library_file(const catalogue_cache *cache, const library_file &file, uint64_t *size)
{
    // Resolve again: the folder may have changed since the scan.
    std::string path = resolve(cache->root + "/" + file.fs_name);
    if (path.empty() || !inside_root(cache->root, path))
        return -1;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > INT32_MAX) {
        close(fd);
        return -1;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}
