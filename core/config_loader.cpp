// Loader for sectioned key/value files ("[SECTION]" headers, "key=value" lines, ";" comments,
// a final "_" continuing the value on the next entry line). Every text in the tree is an
// owned copy; every length is bounded, whatever the file holds.
#include "core/config_loader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum {
    READ_BLOCK = 8192,
    LINE_MAX_BYTES = 4096,
    KEY_MAX_BYTES = 255,
    VALUE_MAX_BYTES = 2047,
};

char *copy_text(const char *text, size_t length)
{
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (!copy)
        return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

size_t trim_trailing_spaces(const char *text, size_t length)
{
    while (length > 0 && text[length - 1] == ' ')
        --length;
    return length;
}

struct load_state {
    config_section *tree;
    config_section *current;   // null before the first header: entries there go nowhere
    config_entry *last_entry;  // the entry a continuation line extends, or null
    bool continuing;           // the previous entry line ended in "_"
    int entry_lines;
};

config_section *find_or_add_section(config_section *tree, const char *name, size_t length)
{
    config_section *last = nullptr;
    for (config_section *s = tree; s; s = s->next) {
        if (s->name && std::strlen(s->name) == length && std::memcmp(s->name, name, length) == 0)
            return s;
        last = s;
    }
    if (!tree->name) {
        tree->name = copy_text(name, length);
        return tree->name ? tree : nullptr;
    }
    config_section *section = static_cast<config_section *>(std::calloc(1, sizeof(config_section)));
    if (!section)
        return nullptr;
    section->name = copy_text(name, length);
    if (!section->name) {
        std::free(section);
        return nullptr;
    }
    last->next = section;
    return section;
}

// The existing entry with this key, or a new one appended at the end; null when memory runs
// out. *added tells which.
config_entry *find_or_add_entry(config_section *section, const char *key, size_t key_length,
                                const char *value, size_t value_length, bool *added)
{
    *added = false;
    config_entry **link = &section->first;
    for (config_entry *e = section->first; e; e = e->next) {
        if (std::strlen(e->key) == key_length && std::memcmp(e->key, key, key_length) == 0)
            return e;
        link = &e->next;
    }
    config_entry *entry = static_cast<config_entry *>(std::calloc(1, sizeof(config_entry)));
    if (!entry)
        return nullptr;
    entry->key = copy_text(key, key_length);
    entry->value = copy_text(value, value_length);
    if (!entry->key || !entry->value) {
        std::free(entry->key);
        std::free(entry->value);
        std::free(entry);
        return nullptr;
    }
    *link = entry;
    *added = true;
    return entry;
}

void append_value(config_entry *entry, const char *text, size_t length)
{
    if (length > VALUE_MAX_BYTES)
        length = VALUE_MAX_BYTES;
    size_t old_length = entry->value ? std::strlen(entry->value) : 0;
    char *grown = static_cast<char *>(std::realloc(entry->value, old_length + length + 1));
    if (!grown)
        return;
    std::memcpy(grown + old_length, text, length);
    grown[old_length + length] = '\0';
    entry->value = grown;
}

void read_header(load_state *state, const char *line, size_t length)
{
    // Trailing spaces and "]" go, but the name always keeps its first character.
    while (length > 2 && (line[length - 1] == ' ' || line[length - 1] == ']'))
        --length;
    state->current = find_or_add_section(state->tree, line + 1, length - 1);
}

void read_entry(load_state *state, const char *line, size_t length)
{
    ++state->entry_lines;
    length = trim_trailing_spaces(line, length);
    bool ends_continued = length > 0 && line[length - 1] == '_';
    if (ends_continued)
        --length;

    if (state->continuing) {
        if (state->last_entry)
            append_value(state->last_entry, line, length);
        state->continuing = ends_continued;
        return;
    }
    state->continuing = ends_continued;
    state->last_entry = nullptr;

    const char *equals = static_cast<const char *>(std::memchr(line, '=', length));
    if (!equals || equals - line < 2)
        return;  // no "=", or fewer than two bytes before it

    size_t key_length = trim_trailing_spaces(line, static_cast<size_t>(equals - line));
    if (key_length > KEY_MAX_BYTES)
        key_length = KEY_MAX_BYTES;
    const char *value = equals + 1;
    const char *end = line + length;
    while (value < end && *value == ' ')
        ++value;
    size_t value_length = static_cast<size_t>(end - value);
    if (value_length > VALUE_MAX_BYTES)
        value_length = VALUE_MAX_BYTES;

    if (!state->current)
        return;  // before the first header: counted, stored nowhere
    bool added;
    state->last_entry =
        find_or_add_entry(state->current, line, key_length, value, value_length, &added);
}

void read_line(load_state *state, const char *line, size_t length)
{
    while (length > 0 && *line == ' ') {
        ++line;
        --length;
    }
    if (length == 0 || line[0] == ';')
        return;
    if (line[0] == '[') {
        read_header(state, line, length);
        return;
    }
    read_entry(state, line, length);
}

}  // namespace

int load_config(const char *path, config_section *tree)
{
    if (!path || !tree)
        return 0;
    FILE *file = std::fopen(path, "rb");
    if (!file) {
        std::printf("load config: %s\n", std::strerror(errno));
        return 0;
    }

    load_state state = {tree, nullptr, nullptr, false, 0};
    static_assert(LINE_MAX_BYTES < READ_BLOCK, "line and block sizes");
    char *block = static_cast<char *>(std::malloc(READ_BLOCK + LINE_MAX_BYTES));
    if (!block) {
        std::fclose(file);
        return 0;
    }
    char *line = block + READ_BLOCK;
    size_t line_length = 0;
    bool line_open = false;  // bytes of an unfinished line have been seen

    size_t got;
    while ((got = std::fread(block, 1, READ_BLOCK, file)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            char c = block[i];
            if (c == '\n') {
                read_line(&state, line, line_length);
                line_length = 0;
                line_open = false;
                continue;
            }
            if (c == '\r' || c == 0x1A)
                continue;
            if (c == '\0')
                c = ' ';
            line_open = true;
            if (line_length < LINE_MAX_BYTES)
                line[line_length++] = c;
        }
    }
    if (line_open)
        read_line(&state, line, line_length);

    std::free(block);
    std::fclose(file);
    return state.entry_lines;
}

int get_config_value(const config_section *tree, const char *section, const char *key, char *dest,
                     int capacity)
{
    if (!dest || capacity <= 0)
        return 0;
    dest[0] = '\0';
    if (!section || !key)
        return 0;
    for (const config_section *s = tree; s; s = s->next) {
        if (!s->name || std::strcmp(s->name, section) != 0)
            continue;
        for (const config_entry *e = s->first; e; e = e->next) {
            if (std::strcmp(e->key, key) != 0)
                continue;
            if (!e->value)
                return 0;
            size_t length = std::strlen(e->value);
            if (length > static_cast<size_t>(capacity - 1))
                length = static_cast<size_t>(capacity - 1);
            std::memcpy(dest, e->value, length);
            dest[length] = '\0';
            return 1;
        }
        return 0;
    }
    return 0;
}

void release_config(config_section *tree)
{
    if (!tree)
        return;
    config_section *section = tree;
    while (section) {
        config_entry *entry = section->first;
        while (entry) {
            config_entry *next = entry->next;
            std::free(entry->key);
            std::free(entry->value);
            std::free(entry);
            entry = next;
        }
        std::free(section->name);
        config_section *next = section->next;
        if (section != tree)
            std::free(section);
        section = next;
    }
    tree->name = nullptr;
    tree->next = nullptr;
    tree->first = nullptr;
}
