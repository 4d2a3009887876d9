// Strict on decoding: a key or signature has exactly one spelling, so a text that differs
// from it is a fault to report, not something to guess at.
#include "core/base64.h"

static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

static int digit_value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

size_t base64_encoded_length(size_t length)
{
    return (length + 2) / 3 * 4;
}

void base64_encode(const uint8_t *data, size_t length, char *out)
{
    size_t o = 0;
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = (uint32_t)data[i] << 16;
        if (i + 1 < length)
            group |= (uint32_t)data[i + 1] << 8;
        if (i + 2 < length)
            group |= data[i + 2];
        out[o++] = ALPHABET[(group >> 18) & 63];
        out[o++] = ALPHABET[(group >> 12) & 63];
        out[o++] = i + 1 < length ? ALPHABET[(group >> 6) & 63] : '=';
        out[o++] = i + 2 < length ? ALPHABET[group & 63] : '=';
    }
    out[o] = '\0';
}

int base64_decode(const char *text, size_t text_length, uint8_t *out, size_t capacity)
{
    if (!text || text_length % 4 != 0)
        return -1;
    size_t o = 0;
    for (size_t i = 0; i < text_length; i += 4) {
        int last_group = i + 4 == text_length;
        int pad = 0;
        if (last_group && text[i + 3] == '=')
            pad = text[i + 2] == '=' ? 2 : 1;
        uint32_t group = 0;
        for (int k = 0; k < 4; ++k) {
            int v = k >= 4 - pad ? 0 : digit_value(text[i + k]);
            if (v < 0)
                return -1;
            group = group << 6 | (uint32_t)v;
        }
        // Bits that padding leaves unused must be zero, or two texts would give one value.
        if ((pad == 1 && (group & 0xFF)) || (pad == 2 && (group & 0xFFFF)))
            return -1;
        int bytes = 3 - pad;
        if (o + (size_t)bytes > capacity)
            return -1;
        out[o++] = (uint8_t)(group >> 16);
        if (bytes > 1)
            out[o++] = (uint8_t)(group >> 8);
        if (bytes > 2)
            out[o++] = (uint8_t)group;
    }
    return (int)o;
}
