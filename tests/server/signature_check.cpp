#include "tests/server/signature_check.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "core/manifest.h"

bool verifies(const std::string &public_key, const std::string &data, const uint8_t *rs)
{
    uint8_t point[65] = {0x04};
    if (!parse_public_key(public_key.data(), public_key.size(), point + 1))
        return false;
    OSSL_PARAM_BLD *build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0);
    OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point);
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX *from = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY *key = nullptr;
    EVP_PKEY_fromdata_init(from);
    EVP_PKEY_fromdata(from, &key, EVP_PKEY_PUBLIC_KEY, params);
    ECDSA_SIG *sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs, 32, nullptr), BN_bin2bn(rs + 32, 32, nullptr));
    unsigned char *der = nullptr;
    int der_length = i2d_ECDSA_SIG(sig, &der);
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    bool ok =
        key && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestVerify(context, der, der_length,
                         reinterpret_cast<const unsigned char *>(data.data()), data.size()) == 1;
    EVP_MD_CTX_free(context);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(from);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    return ok;
}
