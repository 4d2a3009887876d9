// Fuzz input as a NUL-terminated text in a buffer of exactly that size, so any read past the
// terminator is caught by the address sanitizer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

inline char *fuzz_text(const uint8_t *data, size_t size)
{
    char *text = static_cast<char *>(std::malloc(size + 1));
    if (!text)
        std::abort();
    std::memcpy(text, data, size);
    text[size] = '\0';
    return text;
}
