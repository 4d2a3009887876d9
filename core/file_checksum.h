// CRC-32 (ISO-HDLC, reflected 0xEDB88320) of buffers and whole files.
#pragma once
#include <cstddef>
#include <cstdint>

// Continues a CRC over more bytes. Start with crc = 0; the result is the finished CRC of
// everything fed so far (pre- and post-inversion are done inside, as zlib's crc32()).
uint32_t crc32_update(uint32_t crc, const void *data, size_t length);

// One table step per byte: the reference the fast path is checked and measured against.
uint32_t crc32_bytewise(uint32_t crc, const void *data, size_t length);

// 0 and *checksum set when the file was read (a read error mid-way still delivers the CRC of
// the bytes before it); -1 when it cannot be opened (message on stderr, *checksum untouched).
int file_crc32(const char *path, uint32_t *checksum);
