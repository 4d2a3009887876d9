// Entity lookup from every "&" of the input: the name found never reaches past the text.
#include <cstdlib>
#include <cstring>

#include "core/entity_names.h"
#include "fuzz_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char *text = fuzz_text(data, size);
    const size_t text_length = std::strlen(text);
    for (size_t i = 0; i < text_length; ++i) {
        if (text[i] != '&')
            continue;
        int length = entity_length(text + i);
        if (length < 0 || length > 8 || i + static_cast<size_t>(length) > text_length)
            std::abort();
    }
    std::free(text);
    return 0;
}
