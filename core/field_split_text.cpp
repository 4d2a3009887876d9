#include "core/field_split_text.h"

#include "core/field_split.h"

std::vector<std::string> split_field_texts(const std::string &text, const char *separator)
{
    // split_fields wants a writable, terminated text; the copy keeps the caller's untouched
    // and ends at a NUL inside text, as the client's buffer would.
    std::string copy = text;
    field_list list{};
    int count = split_fields(&list, &copy[0], separator, FIELD_LIST_CAPACITY);
    std::vector<std::string> fields;
    fields.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        fields.emplace_back(list.starts[i], static_cast<size_t>(list.lengths[i]));
    return fields;
}
