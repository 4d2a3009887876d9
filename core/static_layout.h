// The static layout of a library on a web server: what `pavoset-server --export` writes and
// what the client's web channel asks for. One rule for both, so they can never disagree.
//
//   catalogue.txt                the catalogue's records, as the text protocol carries them
//                                after "#EXL: OK:"
//   Pavoset.manifest             the signed manifest, when the library is signed
//   files/<crc>-<size>/<name>    each file: crc as 8 lowercase hex digits, size in decimal,
//                                the name in UTF-8, percent-encoded
//
// A file's path changes whenever its bytes change, so a cache may keep it forever, and a
// client holding one catalogue can only ever fetch the files that catalogue names.
#pragma once
#include <cstddef>
#include <cstdint>

#define STATIC_CATALOGUE_NAME "catalogue.txt"
#define STATIC_FILES_FOLDER   "files"

// Writes "files/<crc>-<size>/<encoded name>" with a closing NUL into out. name_utf8 is the
// library name in UTF-8 (the caller converts from code page 949). Every byte but the
// unreserved ones of RFC 3986 (A-Z a-z 0-9 - . _ ~) becomes %XX. Returns the length, or 0
// when it does not fit in capacity or the name is empty.
size_t static_file_path(const char *name_utf8, uint32_t crc, uint64_t size, char *out,
                        size_t capacity);
