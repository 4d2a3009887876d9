// Standard base64 (RFC 4648 alphabet, "=" padding) for keys and signatures in text files.
#pragma once
#include <cstddef>
#include <cstdint>

// Length of the text for length bytes, without terminator.
size_t base64_encoded_length(size_t length);
// Writes the text and a terminator; out holds base64_encoded_length(length) + 1 bytes.
void base64_encode(const uint8_t *data, size_t length, char *out);
// Decodes exactly text_length characters into out (capacity bytes). Only the canonical form
// is taken: padded to a multiple of 4, no blanks, unused bits zero; anything else is -1.
// Returns the number of bytes written, or -1.
int base64_decode(const char *text, size_t text_length, uint8_t *out, size_t capacity);
