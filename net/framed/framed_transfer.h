// One library file over the framed file service (TCP), and the install folder helpers.
#pragma once
#include <winsock2.h>
#include <cstdint>

#include "res/resource.h"  // LIBRARY_FOLDER

// What the caller expects of the file; checked before the target is replaced.
struct transfer_check {
    int check_size;  // compare the received size with size
    uint32_t size;
    int check_crc;  // compare the CRC-32 of the received bytes with crc
    uint32_t crc;
    int check_sha256;  // compare the SHA-256 of the received bytes with sha256 (signed library)
    uint8_t sha256[32];
};

// The results of download_file_framed.
enum { TRANSFER_INSTALLED = 1, TRANSFER_FAILED = 0, TRANSFER_NO_CONNECTION = -1 };

// TRANSFER_INSTALLED (accepted, complete, checked, replaced); TRANSFER_FAILED refused,
// broken, damaged, in use, or could not start; TRANSFER_NO_CONNECTION. *failure (when given)
// says why when it failed.
int download_file_framed(const char *name, const sockaddr_in *server, int port, int chunk_size,
                         const transfer_check *check = nullptr, int *failure = nullptr);
void install_path(char *dest, const char *name);  // dest holds at least 260 bytes
int is_directory(const char *path);
int ensure_directory(const char *path);
