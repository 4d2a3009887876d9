// HTML named character references, recognised through a character tree that is built once
// and then only read. The splitter asks it how far a reference such as "&amp" reaches so that a
// separator character inside the reference does not cut the text.
#include "core/entity_names.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// The four markup characters, then the Latin-1 block from no-break space to y with diaeresis,
// each with its "&" and without the ";". The empty entry ends the list.
const char *const entity_name_set[] = {
    "&quot",   "&amp",    "&lt",     "&gt",     "&nbsp",   "&iexcl",  "&cent",   "&pound",
    "&curren", "&yen",    "&brvbar", "&sect",   "&uml",    "&copy",   "&ordf",   "&laquo",
    "&not",    "&shy",    "&reg",    "&macr",   "&deg",    "&plusmn", "&sup2",   "&sup3",
    "&acute",  "&micro",  "&para",   "&middot", "&cedil",  "&sup1",   "&ordm",   "&raquo",
    "&frac14", "&frac12", "&frac34", "&iquest", "&Agrave", "&Aacute", "&Acirc",  "&Atilde",
    "&Auml",   "&Aring",  "&AElig",  "&Ccedil", "&Egrave", "&Eacute", "&Ecirc",  "&Euml",
    "&Igrave", "&Iacute", "&Icirc",  "&Iuml",   "&ETH",    "&Ntilde", "&Ograve", "&Oacute",
    "&Ocirc",  "&Otilde", "&Ouml",   "&times",  "&Oslash", "&Ugrave", "&Uacute", "&Ucirc",
    "&Uuml",   "&Yacute", "&THORN",  "&szlig",  "&agrave", "&aacute", "&acirc",  "&atilde",
    "&auml",   "&aring",  "&aelig",  "&ccedil", "&egrave", "&eacute", "&ecirc",  "&euml",
    "&igrave", "&iacute", "&icirc",  "&iuml",   "&eth",    "&ntilde", "&ograve", "&oacute",
    "&ocirc",  "&otilde", "&ouml",   "&divide", "&oslash", "&ugrave", "&uacute", "&ucirc",
    "&uuml",   "&yacute", "&thorn",  "&yuml",   "",
};
static_assert(sizeof entity_name_set / sizeof entity_name_set[0] == 101,
              "100 names and the closing empty entry");

enum { LEVEL_SORTED = 1234 };

struct name_level;

struct name_entry {
    name_level *next_level;  // level of the following character, null when no name continues
    unsigned char character;
    short name_length;  // length of the name ending here, 0 when none
    const char *name;
};

struct name_level {
    name_level *parent;
    unsigned short sorted;  // LEVEL_SORTED once the entries are in order
    short entry_count;
    name_entry *entries;
};

name_level *index_root = nullptr;
std::once_flag index_once;

name_level *new_level(name_level *parent)
{
    name_level *level = static_cast<name_level *>(std::calloc(1, sizeof(name_level)));
    if (level)
        level->parent = parent;
    return level;
}

// Entry for character c at this level, appended when absent; null only when memory runs out.
name_entry *find_or_add(name_level *level, unsigned char c)
{
    for (int i = 0; i < level->entry_count; ++i)
        if (level->entries[i].character == c)
            return &level->entries[i];
    name_entry *grown = static_cast<name_entry *>(
        std::realloc(level->entries, sizeof(name_entry) * (level->entry_count + 1)));
    if (!grown)
        return nullptr;
    level->entries = grown;
    name_entry *entry = &grown[level->entry_count++];
    std::memset(entry, 0, sizeof *entry);
    entry->character = c;
    level->sorted = 0;
    return entry;
}

void insert_name(const char *name)
{
    if (!index_root && !(index_root = new_level(nullptr)))
        return;
    name_level *level = index_root;
    for (const char *p = name; *p; ++p) {
        name_entry *entry = find_or_add(level, static_cast<unsigned char>(*p));
        if (!entry)
            return;
        if (p[1] == '\0') {
            if (!entry->name) {
                entry->name = name;
                entry->name_length = static_cast<short>(std::strlen(name));
            }
            return;
        }
        if (!entry->next_level && !(entry->next_level = new_level(level)))
            return;
        level = entry->next_level;
    }
}

void sort_level(name_level *level)
{
    if (!level)
        return;
    if (level->entry_count >= 2)
        std::sort(
            level->entries, level->entries + level->entry_count,
            [](const name_entry &a, const name_entry &b) { return a.character < b.character; });
    for (int i = 0; i < level->entry_count; ++i)
        sort_level(level->entries[i].next_level);
    level->sorted = LEVEL_SORTED;
}

void build_index()
{
    for (int i = 0; entity_name_set[i][0] != '\0'; ++i)
        insert_name(entity_name_set[i]);
    sort_level(index_root);
}

const name_entry *find_entry(const name_level *level, unsigned char c)
{
    if (level->sorted == LEVEL_SORTED && level->entry_count >= 3) {
        int low = 0, high = level->entry_count - 1;
        while (low <= high) {
            int mid = low + (high - low) / 2;
            unsigned char here = level->entries[mid].character;
            if (here == c)
                return &level->entries[mid];
            if (here < c)
                low = mid + 1;
            else
                high = mid - 1;
        }
        return nullptr;
    }
    for (int i = 0; i < level->entry_count; ++i)
        if (level->entries[i].character == c)
            return &level->entries[i];
    return nullptr;
}

}  // namespace

int entity_length(const char *p)
{
    if (!p || *p != '&')
        return 0;
    std::call_once(index_once, build_index);
    const name_level *level = index_root;
    for (const char *q = p; level; ++q) {
        const name_entry *entry = find_entry(level, static_cast<unsigned char>(*q));
        if (!entry)
            return 0;
        // The shortest name wins; a name cut off by the end of the text or a comma gives 0.
        if (q[1] == '\0' || q[1] == ',' || entry->name_length != 0)
            return entry->name_length;
        level = entry->next_level;
    }
    return 0;
}
