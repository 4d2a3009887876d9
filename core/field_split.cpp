// Cutting flat texts at short separators. The splitters only record where fields start and how
// long they are; split_records and terminate_fields are the only ones that write into the text.
#include "core/field_split.h"

#include <cstring>

#include "core/entity_names.h"
#include "core/text_protocol.h"

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}
bool is_letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Compares byte by byte, so it stops at the text's terminator and never reads past it.
bool begins_with(const char *text, const char *prefix, int length)
{
    return std::strncmp(text, prefix, static_cast<size_t>(length)) == 0;
}

// Offset of the quote that closes a field starting with a double quote, 0 when there is none.
// A quote closes the field when the text or a separator follows it, or once a separator has
// been passed inside the quotes.
int closing_quote(const char *field, const char *separator, int separator_length)
{
    if (field[1] == '\0')
        return 0;
    bool separator_seen = false;
    const char *q = field + 1;
    for (;;) {
        if (begins_with(q, separator, separator_length))
            separator_seen = true;
        if (begins_with(q, "&nbsp;", 6))
            q += 6;
        if (*q == '"') {
            if (q[1] == '\0' || begins_with(q + 1, separator, separator_length) || separator_seen)
                return static_cast<int>(q - field);
        }
        if (*q == '\0')
            return 0;
        ++q;
        if (*q == '\0')
            return 0;
    }
}

// Length of the field starting at field: up to the next separator that is not inside a
// character reference or a quoted part, or up to the end of the text.
int field_length(const char *field, const char *separator, int separator_length)
{
    int p = 0;
    for (;;) {
        if (begins_with(field + p, separator, separator_length))
            return p;
        if (field[p] == '&') {
            if (field[p + 1] == '#' && is_digit(field[p + 2])) {
                p += 2;
                while (is_digit(field[p + 1]))
                    ++p;
                if (field[p + 1] == ';')
                    ++p;
            } else if (is_letter(field[p + 1])) {
                // Rests on the byte after the name, which is stepped over below: a separator
                // right after a reference name never cuts.
                p += entity_length(field + p);
            }
        }
        if (p == 0 && field[0] == '"') {
            p = closing_quote(field, separator, separator_length);
            if (field[p] == '\0')
                return p;
        }
        if (field[p] == '\0')
            return p;
        ++p;
        if (field[p] == '\0')
            return p;
    }
}

void clear_slots(field_list *list, int from, int limit)
{
    for (int i = from; i < limit; ++i) {
        list->starts[i] = nullptr;
        list->lengths[i] = 0;
    }
}

void copy_separator(field_list *list, const char *separator)
{
    std::memset(list->separator, 0, sizeof list->separator);
    for (int i = 0; i < 3 && separator[i]; ++i)
        list->separator[i] = separator[i];
}

}  // namespace

int split_fields(field_list *list, char *text, const char *separator, int max_count)
{
    if (!list)
        return 0;
    list->count = 0;
    if (!text || !separator || !*separator)
        return 0;
    list->source = text;
    copy_separator(list, separator);

    // The list never holds more than its capacity, whatever the caller asks for.
    int limit = max_count < FIELD_LIST_CAPACITY ? max_count : FIELD_LIST_CAPACITY;
    if (limit < 0)
        limit = 0;
    const int separator_length = static_cast<int>(std::strlen(separator));

    int count = 0;
    char *field = text;
    while (*text && count < limit) {
        int length = field_length(field, separator, separator_length);
        list->starts[count] = field;
        list->lengths[count] = length;
        ++count;
        if (field[length] == '\0')
            break;
        field += length + separator_length;
        if (*field == '\0') {
            // A closing separator leaves one more, empty field.
            if (count < limit) {
                list->starts[count] = field;
                list->lengths[count] = 0;
                ++count;
            }
            break;
        }
    }
    list->count = count;

    int clear_to = count + 10 < limit ? count + 10 : limit;
    clear_slots(list, count, clear_to);

    for (int i = 0; i < count; ++i) {
        char *start = list->starts[i];
        int length = list->lengths[i];
        if ((start[0] == '"' || start[0] == '\'') && length >= 2 && start[length - 1] == start[0]) {
            list->starts[i] = start + 1;
            list->lengths[i] = length - 2;
        }
    }
    return count;
}

int split_records(field_list *list, char *text)
{
    if (!list)
        return 0;
    list->count = 0;
    list->source = text;
    copy_separator(list, TEXT_RECORD_SEPARATOR);
    if (!text || !*text)
        return 0;

    int count = 0;
    char *record = text;
    for (;;) {
        char *cut = std::strchr(record, '~');
        while (cut && cut[1] != '|')
            cut = std::strchr(cut + 1, '~');
        if (!cut)
            cut = record + std::strlen(record);
        list->starts[count] = record;
        list->lengths[count] = static_cast<int>(cut - record);
        ++count;
        if (*cut == '\0')
            break;
        *cut = '\0';
        record = cut + 2;
        if (*record == '\0') {
            if (count < FIELD_LIST_CAPACITY) {
                list->starts[count] = record;
                list->lengths[count] = 0;
                ++count;
            }
            break;
        }
        if (count >= FIELD_LIST_CAPACITY)
            break;  // the rest of the text is dropped
    }
    list->count = count;
    if (count < FIELD_LIST_CAPACITY)
        clear_slots(list, count, count + 1);
    return count;
}

void terminate_fields(field_list *list)
{
    if (!list || list->count < 2)
        return;
    int count = list->count < FIELD_LIST_CAPACITY ? list->count : FIELD_LIST_CAPACITY;
    for (int i = 0; i < count; ++i)
        if (list->starts[i])
            list->starts[i][list->lengths[i]] = '\0';
}

int has_suffix(const char *text, const char *suffix)
{
    if (!text || !suffix || !*text || !*suffix)
        return 0;
    size_t text_length = std::strlen(text);
    size_t suffix_length = std::strlen(suffix);
    if (text_length < suffix_length)
        return 0;
    return std::memcmp(text + text_length - suffix_length, suffix, suffix_length) == 0;
}
