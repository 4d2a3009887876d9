// OpenSSL gives ECDSA signatures in DER; clients take the fixed 64-byte r || s form, so the
// conversion is done here, once, where the signature is made.
#include "server/signing_key.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "core/base64.h"
#include "core/manifest.h"

static std::string openssl_error(const char *what)
{
    char text[256] = {0};
    unsigned long code = ERR_get_error();
    if (code)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return std::string(what) + (code ? std::string(": ") + text : std::string());
}

static bool public_key_text(EVP_PKEY *key, std::string *public_key, std::string *error)
{
    uint8_t point[1 + PUBLIC_KEY_SIZE];
    size_t length = 0;
    if (!EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                         &length) ||
        length != sizeof point || point[0] != 0x04) {
        *error = openssl_error("cannot read the public point");
        return false;
    }
    char text[128];
    base64_encode(point + 1, PUBLIC_KEY_SIZE, text);
    *public_key = text;
    return true;
}

static EVP_PKEY *load_key(const std::string &path, std::string *error)
{
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        *error = "cannot open key " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    EVP_PKEY *key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (!key) {
        *error = openssl_error(("no private key in " + path).c_str());
        return nullptr;
    }
    char group[64] = {0};
    size_t group_length = 0;
    if (!EVP_PKEY_is_a(key, "EC") ||
        !EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &group_length) ||
        std::strcmp(group, "prime256v1") != 0) {
        EVP_PKEY_free(key);
        *error = path + " is not a P-256 key";
        return nullptr;
    }
    return key;
}

bool make_signing_key(const std::string &path, std::string *public_key, std::string *error)
{
    EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!key) {
        *error = openssl_error("cannot generate a key");
        return false;
    }
    // O_EXCL: an existing key is someone's trust anchor and must never be replaced.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = errno == EEXIST ? path + " exists; a signing key is never overwritten"
                                 : "cannot create " + path + ": " + std::strerror(errno);
        EVP_PKEY_free(key);
        return false;
    }
    fchmod(fd, 0600);
    FILE *file = fdopen(fd, "w");
    bool ok = file && PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
    if (file)
        ok = std::fclose(file) == 0 && ok;
    else
        close(fd);
    if (!ok) {
        unlink(path.c_str());
        *error = openssl_error(("cannot write " + path).c_str());
        EVP_PKEY_free(key);
        return false;
    }
    ok = public_key_text(key, public_key, error);
    EVP_PKEY_free(key);
    return ok;
}

bool signing_public_key(const std::string &path, std::string *public_key, std::string *error)
{
    EVP_PKEY *key = load_key(path, error);
    if (!key)
        return false;
    bool ok = public_key_text(key, public_key, error);
    EVP_PKEY_free(key);
    return ok;
}

bool sign_with_key(const std::string &path, const void *data, size_t length, uint8_t signature[64],
                   std::string *error)
{
    EVP_PKEY *key = load_key(path, error);
    if (!key)
        return false;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    unsigned char der[128];
    size_t der_length = sizeof der;
    bool ok = context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestSign(context, der, &der_length, static_cast<const unsigned char *>(data),
                             length) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    if (!ok) {
        *error = openssl_error("cannot sign");
        return false;
    }
    const unsigned char *cursor = der;
    ECDSA_SIG *parsed = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_length));
    const BIGNUM *r = nullptr, *s = nullptr;
    if (parsed)
        ECDSA_SIG_get0(parsed, &r, &s);
    ok =
        parsed && BN_bn2binpad(r, signature, 32) == 32 && BN_bn2binpad(s, signature + 32, 32) == 32;
    ECDSA_SIG_free(parsed);
    if (!ok)
        *error = openssl_error("cannot convert the signature");
    return ok;
}
