#include "core/static_layout.h"

#include <cstdio>
#include <cstring>

static int is_unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

size_t static_file_path(const char *name_utf8, uint32_t crc, uint64_t size, char *out,
                        size_t capacity)
{
    if (!name_utf8 || !*name_utf8 || !out || capacity == 0)
        return 0;
    int n = snprintf(out, capacity, STATIC_FILES_FOLDER "/%08x-%llu/", (unsigned)crc,
                     (unsigned long long)size);
    if (n < 0 || (size_t)n >= capacity)
        return 0;
    size_t at = (size_t)n;
    static const char hex[] = "0123456789ABCDEF";
    for (const unsigned char *p = (const unsigned char *)name_utf8; *p; ++p) {
        size_t need = is_unreserved(*p) ? 1 : 3;
        if (at + need >= capacity)
            return 0;
        if (need == 1) {
            out[at++] = (char)*p;
        } else {
            out[at++] = '%';
            out[at++] = hex[*p >> 4];
            out[at++] = hex[*p & 15];
        }
    }
    out[at] = 0;
    return at;
}
