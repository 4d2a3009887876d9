// The manifest comes from the network: any bytes must give a clean verdict, and whatever
// is accepted must survive being written out and read again unchanged.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/manifest.h"

static manifest parsed, again;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    int result = parse_manifest(text, size, &parsed);
    if (result != MANIFEST_OK)
        return 0;
    if (parsed.signed_length > size || parsed.file_count < 0 ||
        parsed.file_count > MANIFEST_MAX_FILES)
        std::abort();
    std::string body = format_manifest_body(&parsed);
    // Canonical form: the signed bytes are exactly what the writer would produce.
    if (body.size() != parsed.signed_length || std::memcmp(body.data(), text, body.size()) != 0)
        std::abort();
    std::string whole = body + format_signature_line(parsed.signature);
    if (whole.size() != size || parse_manifest(whole.data(), whole.size(), &again) != MANIFEST_OK)
        std::abort();
    for (int i = 0; i < parsed.file_count; ++i) {
        if (!library_name_is_safe(parsed.files[i].name))
            std::abort();
        if (manifest_find(&parsed, parsed.files[i].name) != &parsed.files[i])
            std::abort();
    }
    return 0;
}
