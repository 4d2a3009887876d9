// The Windows build serves a signed manifest but does not sign: the signing key belongs on
// the publisher's own (Linux) machine, and this build carries no crypto library.
#include "server/library_signing.h"
#include "server/signing_key.h"

static const char k_offline_only[] =
    "signing is done offline with the Linux build of pavoset-server (--make-key, --sign); "
    "copy the signed library, Pavoset.manifest included, to this server's folder";

bool make_signing_key(const std::string &, std::string *, std::string *error)
{
    *error = k_offline_only;
    return false;
}

bool signing_public_key(const std::string &, std::string *, std::string *error)
{
    *error = k_offline_only;
    return false;
}

bool sign_with_key(const std::string &, const void *, size_t, uint8_t[64], std::string *error)
{
    *error = k_offline_only;
    return false;
}

bool read_manifest_sequence(const std::string &, uint64_t *sequence, std::string *)
{
    *sequence = 0;
    return true;
}

bool signed_manifest_text(const catalogue_cache &, const std::string &, int, int64_t, uint64_t,
                          std::string *, signing_result *, std::string *error)
{
    *error = k_offline_only;
    return false;
}

bool sign_library(const std::string &, const std::string &, int, int64_t, signing_result *,
                  std::string *error)
{
    *error = k_offline_only;
    return false;
}
