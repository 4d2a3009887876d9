// One canonical spelling per manifest: fixed keywords, single blanks, decimal numbers
// without leading zeros, lower-case hexadecimal, LF line ends. The signature covers bytes,
// so a lenient reader would only invite two readers to disagree about the same bytes.
#include "core/manifest.h"

#include <cstdio>
#include <cstring>

#include "core/base64.h"
#include "core/name_case.h"

static const char HEADER[] = "pavoset-manifest 1";

struct line_reader {
    const char *text;
    size_t length;
    size_t pos;
};

// The next line without its LF; 0 when the text ends without one.
static int next_line(line_reader *r, const char **line, size_t *line_length)
{
    if (r->pos >= r->length)
        return 0;
    const char *start = r->text + r->pos;
    const void *lf = memchr(start, '\n', r->length - r->pos);
    if (!lf)
        return 0;
    *line = start;
    *line_length = (size_t)((const char *)lf - start);
    r->pos += *line_length + 1;
    return 1;
}

// "keyword " at the start of the line; *rest points after the blank.
static int take_keyword(const char *line, size_t length, const char *keyword, const char **rest,
                        size_t *rest_length)
{
    size_t k = strlen(keyword);
    if (length <= k || memcmp(line, keyword, k) != 0 || line[k] != ' ')
        return 0;
    *rest = line + k + 1;
    *rest_length = length - k - 1;
    return 1;
}

// A decimal number of 1 to 20 digits, no leading zero, within 64 bits.
static int parse_u64(const char *text, size_t length, uint64_t *value)
{
    if (length == 0 || length > 20 || (length > 1 && text[0] == '0'))
        return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        unsigned digit = (unsigned)(text[i] - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return 0;
        v = v * 10 + digit;
    }
    *value = v;
    return 1;
}

// Splits off the text up to the next blank.
static int take_word(const char **text, size_t *length, const char **word, size_t *word_length)
{
    const void *blank = memchr(*text, ' ', *length);
    if (!blank)
        return 0;
    *word = *text;
    *word_length = (size_t)((const char *)blank - *text);
    *text += *word_length + 1;
    *length -= *word_length + 1;
    return 1;
}

static int parse_sha256_hex(const char *text, size_t length, uint8_t out[SHA256_SIZE])
{
    if (length != SHA256_SIZE * 2)
        return 0;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0)
            return 0;
        if (i % 2 == 0)
            out[i / 2] = (uint8_t)(v << 4);
        else
            out[i / 2] |= (uint8_t)v;
    }
    return 1;
}

static int parse_file_line(const char *rest, size_t length, manifest *m)
{
    const char *hash, *size, *time;
    size_t hash_length, size_length, time_length;
    if (!take_word(&rest, &length, &hash, &hash_length) ||
        !take_word(&rest, &length, &size, &size_length) ||
        !take_word(&rest, &length, &time, &time_length))
        return MANIFEST_BAD_FORMAT;
    if (m->file_count >= MANIFEST_MAX_FILES)
        return MANIFEST_TOO_MANY_FILES;
    manifest_file *f = &m->files[m->file_count];
    if (!parse_sha256_hex(hash, hash_length, f->sha256) ||
        !parse_u64(size, size_length, &f->size) || !parse_u64(time, time_length, &f->file_time))
        return MANIFEST_BAD_FORMAT;
    // The name is the rest of the line: it may hold blanks, never a NUL.
    if (length == 0 || length > LIBRARY_NAME_MAX || memchr(rest, '\0', length))
        return MANIFEST_BAD_NAME;
    memcpy(f->name, rest, length);
    f->name[length] = '\0';
    if (!library_name_is_safe(f->name) || library_names_same_file(f->name, MANIFEST_FILE_NAME))
        return MANIFEST_BAD_NAME;
    for (int i = 0; i < m->file_count; ++i)
        if (library_names_same_file(m->files[i].name, f->name))
            return MANIFEST_BAD_NAME;
    ++m->file_count;
    return MANIFEST_OK;
}

int parse_manifest(const char *text, size_t length, manifest *out)
{
    if (!text || !out)
        return MANIFEST_BAD_FORMAT;
    memset(out, 0, sizeof *out);
    if (length > MANIFEST_MAX_BYTES)
        return MANIFEST_TOO_LARGE;
    line_reader r = {text, length, 0};
    const char *line, *rest;
    size_t line_length, rest_length;

    if (!next_line(&r, &line, &line_length) || line_length != sizeof HEADER - 1 ||
        memcmp(line, HEADER, line_length) != 0)
        return MANIFEST_BAD_FORMAT;
    if (!next_line(&r, &line, &line_length) ||
        !take_keyword(line, line_length, "sequence", &rest, &rest_length) ||
        !parse_u64(rest, rest_length, &out->sequence))
        return MANIFEST_BAD_FORMAT;

    int seen_file = 0;
    for (;;) {
        size_t line_start = r.pos;
        if (!next_line(&r, &line, &line_length))
            return r.pos >= length ? MANIFEST_UNSIGNED : MANIFEST_BAD_FORMAT;
        if (take_keyword(line, line_length, "expires", &rest, &rest_length)) {
            // Once, and before the files.
            if (out->has_expiry || seen_file || !parse_u64(rest, rest_length, &out->expires))
                return MANIFEST_BAD_FORMAT;
            out->has_expiry = 1;
        } else if (take_keyword(line, line_length, "file", &rest, &rest_length)) {
            seen_file = 1;
            int result = parse_file_line(rest, rest_length, out);
            if (result != MANIFEST_OK)
                return result;
        } else if (take_keyword(line, line_length, "signature", &rest, &rest_length)) {
            out->signed_length = line_start;
            if (r.pos != length)
                return MANIFEST_BAD_FORMAT;  // nothing may follow the signature
            if (rest_length != base64_encoded_length(SIGNATURE_SIZE) ||
                base64_decode(rest, rest_length, out->signature, SIGNATURE_SIZE) != SIGNATURE_SIZE)
                return MANIFEST_UNSIGNED;
            return MANIFEST_OK;
        } else {
            return MANIFEST_BAD_FORMAT;
        }
    }
}

const manifest_file *manifest_find(const manifest *m, const char *name)
{
    if (!m || !name)
        return nullptr;
    for (int i = 0; i < m->file_count; ++i)
        if (library_names_same_file(m->files[i].name, name))
            return &m->files[i];
    return nullptr;
}

std::string format_manifest_body(const manifest *m)
{
    std::string text = HEADER;
    text += "\nsequence " + std::to_string(m->sequence) + "\n";
    if (m->has_expiry)
        text += "expires " + std::to_string(m->expires) + "\n";
    for (int i = 0; i < m->file_count; ++i) {
        const manifest_file *f = &m->files[i];
        char hex[SHA256_SIZE * 2 + 1];
        for (int k = 0; k < SHA256_SIZE; ++k)
            snprintf(hex + 2 * k, 3, "%02x", f->sha256[k]);
        text += "file ";
        text += hex;
        text += " " + std::to_string(f->size) + " " + std::to_string(f->file_time) + " ";
        text += f->name;
        text += "\n";
    }
    return text;
}

std::string format_signature_line(const uint8_t signature[SIGNATURE_SIZE])
{
    char encoded[128];
    base64_encode(signature, SIGNATURE_SIZE, encoded);
    return std::string("signature ") + encoded + "\n";
}

int parse_public_key(const char *text, size_t length, uint8_t key[PUBLIC_KEY_SIZE])
{
    if (!text || length != base64_encoded_length(PUBLIC_KEY_SIZE))
        return 0;
    return base64_decode(text, length, key, PUBLIC_KEY_SIZE) == PUBLIC_KEY_SIZE;
}
