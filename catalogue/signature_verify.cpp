#include "catalogue/signature_verify.h"

#include <windows.h>
#include <bcrypt.h>
#include <cstring>

#include "core/sha256.h"

int verify_p256_signature(const uint8_t public_key[64], const void *data, size_t length,
                          const uint8_t signature[64])
{
    uint8_t digest[32];
    if (!sha256_of(data, length, digest))
        return SIGNATURE_UNAVAILABLE;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0)
        return SIGNATURE_UNAVAILABLE;
    // The public blob: a small header, then X and Y, big-endian, as the key text holds them.
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header;
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    memcpy(blob, &header, sizeof header);
    memcpy(blob + sizeof header, public_key, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    // A point that is not on the curve is refused at the import: it verifies nothing.
    int verdict = SIGNATURE_INVALID;
    if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob,
                            0) >= 0) {
        NTSTATUS status = BCryptVerifySignature(key, nullptr, digest, sizeof digest,
                                                const_cast<uint8_t *>(signature), 64, 0);
        verdict = status >= 0 ? SIGNATURE_VALID : SIGNATURE_INVALID;
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return verdict;
}
