#include "server/library_export.h"

#include <cstring>
#include <vector>

#include "core/file_checksum.h"
#include "core/manifest.h"
#include "core/static_layout.h"
#include "server/library_catalogue.h"
#include "server/library_signing.h"
#include "server/platform_files.h"

// The suffix of a file being written; the finished one replaces the target by rename.
static const char PARTIAL_SUFFIX[] = ".partial";

static bool write_whole(const std::string &path, const std::string &content, std::string *error)
{
    std::string temp = path + PARTIAL_SUFFIX;
    file_ref file;
    if (!create_for_writing(temp, &file)) {
        *error = "cannot write " + temp + ": " + last_file_error();
        return false;
    }
    bool ok = write_file_all(file, content.data(), content.size()) && flush_file(file);
    close_file(file);
    if (!ok || !replace_file(temp, path)) {
        *error = "cannot write " + path + ": " + last_file_error();
        remove_file(temp);
        return false;
    }
    return true;
}

// Reads a whole file into *content (the manifest, at most a few KiB).
static bool read_whole(const std::string &path, size_t limit, std::string *content)
{
    file_ref file;
    if (!open_for_reading(path, false, &file))
        return false;
    content->clear();
    char buffer[4096];
    long long n;
    while ((n = read_file(file, buffer, sizeof buffer)) > 0 && content->size() <= limit)
        content->append(buffer, static_cast<size_t>(n));
    close_file(file);
    return n == 0 && content->size() <= limit;
}

// True when path already holds exactly the bytes of file: an earlier export wrote it.
static bool already_exported(const std::string &path, const library_file &file)
{
    file_facts facts;
    if (!path_facts(path, false, &facts) || !facts.regular || facts.size != file.size)
        return false;
    file_ref in;
    if (!open_for_reading(path, true, &in))
        return false;
    std::vector<unsigned char> buffer(1 << 16);
    uint32_t crc = 0;
    uint64_t total = 0;
    long long n;
    while ((n = read_file(in, buffer.data(), buffer.size())) > 0) {
        crc = crc32_update(crc, buffer.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
    }
    close_file(in);
    return n == 0 && total == file.size && crc == file.crc;
}

// Copies one library file to target, checking that the bytes are those the catalogue names:
// a file changed since the scan would otherwise be published under another file's CRC.
static bool copy_file(const library_file &file, const std::string &target, std::string *error)
{
    file_ref in;
    if (!open_for_reading(file.path, true, &in)) {
        *error = "cannot read " + file.fs_name + ": " + last_file_error();
        return false;
    }
    std::string temp = target + PARTIAL_SUFFIX;
    file_ref out;
    if (!create_for_writing(temp, &out)) {
        *error = "cannot write " + temp + ": " + last_file_error();
        close_file(in);
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    uint32_t crc = 0;
    uint64_t total = 0;
    bool ok = true;
    long long n;
    while (ok && (n = read_file(in, buffer.data(), buffer.size())) != 0) {
        if (n < 0) {
            ok = false;
            break;
        }
        crc = crc32_update(crc, buffer.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
        ok = write_file_all(out, buffer.data(), static_cast<size_t>(n));
    }
    close_file(in);
    bool whole = ok && total == file.size && crc == file.crc;
    ok = whole && set_file_mtime(out, file.mtime_sec, file.mtime_nsec) && flush_file(out);
    close_file(out);
    if (!ok || !replace_file(temp, target)) {
        *error = whole ? "cannot write " + target + ": " + last_file_error()
                       : "file " + file.fs_name + " cannot be read (or changed while exporting)";
        remove_file(temp);
        return false;
    }
    return true;
}

bool export_library(const export_request &request, export_result *result, std::string *error)
{
    catalogue_cache cache;
    if (!open_catalogue_cache(&cache, request.library, error) || !refresh_catalogue(&cache, error))
        return false;
    // The static folder's own files would become library files at the next scan.
    std::string out_resolved = resolve_path(request.out);
    if (!out_resolved.empty() && out_resolved == (cache.root.empty() ? "/" : cache.root)) {
        *error = "the static folder must not be the library folder itself";
        return false;
    }
    std::string out = request.out;
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    std::string files_folder = out + "/" STATIC_FILES_FOLDER;
    if (!make_folder(out) || !make_folder(files_folder)) {
        *error = "cannot make the folder " + files_folder + ": " + last_file_error();
        return false;
    }

    // The manifest is made before any file is copied: signing failures leave out untouched.
    std::string manifest_text;
    if (!request.key_path.empty()) {
        uint64_t in_out = 0, in_library = 0;
        if (!read_manifest_sequence(out + "/" MANIFEST_FILE_NAME, &in_out, error) ||
            !read_manifest_sequence(cache.root + "/" MANIFEST_FILE_NAME, &in_library, error))
            return false;
        signing_result signing;
        if (!signed_manifest_text(cache, request.key_path, request.expires_days, request.now,
                                  in_out > in_library ? in_out : in_library, &manifest_text,
                                  &signing, error))
            return false;
        result->sequence = signing.sequence;
    } else if (cache.current.has_manifest &&
               !read_whole(cache.current.manifest.path, MANIFEST_MAX_BYTES, &manifest_text)) {
        *error = "cannot read the library's " MANIFEST_FILE_NAME;
        return false;
    }

    for (const library_file &file : cache.current.files) {
        // The scan converted the name to code page 949 exactly, so this UTF-8 name is the one a
        // client makes from the catalogue. The path is the address; the web server decodes it,
        // so on disk the file keeps its own name in the address's folder.
        char address[1024];
        if (!static_file_path(file.fs_name.c_str(), file.crc, file.size, address, sizeof address)) {
            *error = "file " + file.fs_name + ": name too long for a web address";
            return false;
        }
        std::string folder =
            out + "/" +
            std::string(address, std::strchr(address + sizeof STATIC_FILES_FOLDER, '/'));
        std::string target = folder + "/" + file.fs_name;
        if (!make_folder(folder)) {
            *error = "cannot make the folder " + folder + ": " + last_file_error();
            return false;
        }
        ++result->files;
        if (already_exported(target, file))
            continue;
        if (!copy_file(file, target, error))
            return false;
        ++result->files_written;
        result->bytes_written += file.size;
    }

    // Last, so that neither ever names a file that is not there yet.
    if (!write_whole(out + "/" STATIC_CATALOGUE_NAME, cache.current.text, error))
        return false;
    if (manifest_text.empty()) {
        // A manifest left from an earlier, signed export would vouch for other files.
        remove_file(out + "/" MANIFEST_FILE_NAME);
        return true;
    }
    if (!write_whole(out + "/" MANIFEST_FILE_NAME, manifest_text, error))
        return false;
    result->has_manifest = true;
    return true;
}
