// The general splitter with each separator the program uses, and the maxima its callers pass.
#include <cstdlib>
#include <cstring>

#include "core/field_split.h"
#include "core/text_protocol.h"
#include "fuzz_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const char *const separators[] = {TEXT_RECORD_SEPARATOR, TEXT_FIELD_SEPARATOR, "%", "."};
    const char *separator = separators[data[0] & 3];
    int max_count = (data[0] & 4) ? 4 : 150;
    char *text = fuzz_text(data + 1, size - 1);
    const size_t text_length = std::strlen(text);

    field_list list;
    std::memset(&list, 0xA5, sizeof list);
    int count = split_fields(&list, text, separator, max_count);
    if (count < 0 || count > max_count || count != list.count)
        std::abort();
    for (int i = 0; i < count; ++i) {
        // Every field lies inside the text; the text itself is unchanged.
        if (list.starts[i] < text || list.lengths[i] < 0)
            std::abort();
        if (static_cast<size_t>(list.starts[i] - text) + list.lengths[i] > text_length)
            std::abort();
    }
    if (std::memcmp(text, data + 1, text_length) != 0)
        std::abort();
    for (int i = count; i < count + 10 && i < max_count; ++i)
        if (list.starts[i] != nullptr || list.lengths[i] != 0)
            std::abort();

    terminate_fields(&list);
    for (int i = 0; i < count; ++i)
        (void)has_suffix(list.starts[i], "xla");
    std::free(text);
    return 0;
}
