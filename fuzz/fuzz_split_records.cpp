// The record splitter writes terminators into the text: they must all stay inside it.
#include <cstdlib>
#include <cstring>

#include "core/field_split.h"
#include "fuzz_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char *text = fuzz_text(data, size);
    const size_t text_length = std::strlen(text);

    field_list list;
    std::memset(&list, 0xA5, sizeof list);
    int count = split_records(&list, text);
    if (count < 0 || count > FIELD_LIST_CAPACITY || count != list.count)
        std::abort();
    for (int i = 0; i < count; ++i) {
        if (list.starts[i] < text || list.lengths[i] < 0)
            std::abort();
        if (static_cast<size_t>(list.starts[i] - text) + list.lengths[i] > text_length)
            std::abort();
        if (std::memchr(list.starts[i], '\0', static_cast<size_t>(list.lengths[i])))
            std::abort();
    }
    if (count > 0 && count < FIELD_LIST_CAPACITY && list.starts[count] != nullptr)
        std::abort();
    terminate_fields(&list);
    std::free(text);
    return 0;
}
