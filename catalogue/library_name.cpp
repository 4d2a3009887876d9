// Guards the install folder: a catalogue name becomes a file name directly inside it, so any
// name that could reach another folder or carry control bytes is refused.
#include "catalogue/library_name.h"

#include <cstring>

int library_name_is_safe(const char *name) {
    if (!name || !*name) return 0;
    size_t length = std::strlen(name);
    if (length > LIBRARY_NAME_MAX) return 0;
    if (std::strstr(name, "..")) return 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || c == '\\' || c == '/' || c == ':') return 0;
    }
    return 1;
}
