// Checking a publisher's ECDSA P-256 signature with the system's cryptography (CNG).
#pragma once
#include <cstddef>
#include <cstdint>

enum signature_verdict {
    SIGNATURE_VALID = 1,
    SIGNATURE_INVALID = 0,
    SIGNATURE_UNAVAILABLE = -1,  // the system offers no SHA-256 or P-256 to check it with
};

// Verifies signature (r || s) over SHA-256 of data with the public key X || Y.
int verify_p256_signature(const uint8_t public_key[64], const void *data, size_t length,
                          const uint8_t signature[64]);
