// The manifest lists exactly what the catalogue would, scanned by the same code, so a
// client never finds a served file that the publisher did not vouch for.
#include "server/library_signing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <openssl/evp.h>

#include "core/manifest.h"
#include "server/file_time.h"
#include "server/library_catalogue.h"
#include "server/signing_key.h"

// SHA-256 of the file as it was scanned: a file that changes meanwhile is an error, not a
// manifest that vouches for bytes nobody published.
static bool hash_file(const library_file &file, uint8_t out[SHA256_SIZE], std::string *error)
{
    int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + file.fs_name + ": " + std::strerror(errno);
        return false;
    }
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buffer(1 << 16);
    uint64_t total = 0;
    while (ok) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(n)) == 1;
        total += static_cast<uint64_t>(n);
    }
    unsigned int length = 0;
    ok = ok && total == file.size && EVP_DigestFinal_ex(context, out, &length) == 1 &&
         length == SHA256_SIZE;
    EVP_MD_CTX_free(context);
    close(fd);
    if (!ok)
        *error = "cannot read " + file.fs_name + " (or it changed while being read)";
    return ok;
}

// The sequence of the manifest already in dir, 0 when there is none. A manifest that
// cannot be read stops the signing: guessing could let the number go backwards.
static bool previous_sequence(const std::string &path, uint64_t *sequence, std::string *error)
{
    *sequence = 0;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (errno == ENOENT)
            return true;  // the first signing
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> text(MANIFEST_MAX_BYTES + 1);
    size_t length = std::fread(text.data(), 1, text.size(), file);
    std::fclose(file);
    static manifest old;
    if (parse_manifest(text.data(), length, &old) != MANIFEST_OK) {
        *error = path + " is not a readable manifest; move it away to sign anew";
        return false;
    }
    *sequence = old.sequence;
    return true;
}

bool read_manifest_sequence(const std::string &path, uint64_t *sequence, std::string *error)
{
    return previous_sequence(path, sequence, error);
}

bool signed_manifest_text(const catalogue_cache &cache, const std::string &key_path,
                          int expires_days, int64_t now, uint64_t previous, std::string *text,
                          signing_result *result, std::string *error)
{
    static manifest m;
    std::memset(&m, 0, sizeof m);
    uint64_t floor = now > 0 ? static_cast<uint64_t>(now) : 0;
    if (previous == UINT64_MAX) {
        *error = "the previous manifest's sequence number cannot grow";
        return false;
    }
    m.sequence = previous + 1 > floor ? previous + 1 : floor;
    if (expires_days > 0) {
        m.has_expiry = 1;
        m.expires = floor + static_cast<uint64_t>(expires_days) * 86400u;
    }
    for (const library_file &file : cache.current.files) {
        manifest_file *entry = &m.files[m.file_count++];
        std::snprintf(entry->name, sizeof entry->name, "%s", file.wire_name.c_str());
        entry->size = file.size;
        entry->file_time = filetime_from_unix(file.mtime_sec, file.mtime_nsec);
        if (!hash_file(file, entry->sha256, error))
            return false;
    }
    *text = format_manifest_body(&m);
    uint8_t signature[SIGNATURE_SIZE];
    if (!sign_with_key(key_path, text->data(), text->size(), signature, error))
        return false;
    *text += format_signature_line(signature);
    result->sequence = m.sequence;
    result->files = m.file_count;
    return true;
}

bool sign_library(const std::string &dir, const std::string &key_path, int expires_days,
                  int64_t now, signing_result *result, std::string *error)
{
    catalogue_cache cache;
    if (!open_catalogue_cache(&cache, dir, error) || !refresh_catalogue(&cache, error))
        return false;
    std::string path = cache.root + "/" MANIFEST_FILE_NAME;
    uint64_t previous = 0;
    if (!previous_sequence(path, &previous, error))
        return false;
    std::string text;
    if (!signed_manifest_text(cache, key_path, expires_days, now, previous, &text, result, error))
        return false;

    std::string temp = path + ".tmp";
    FILE *file = std::fopen(temp.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && fsync(fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}
