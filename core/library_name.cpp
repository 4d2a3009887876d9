// Guards the install folder: a catalogue name becomes a file name directly inside it, so any
// name that could reach another folder, a device, or a file of another name is refused.
#include "core/library_name.h"

#include <cstring>

static int upper(char c)
{
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

int library_name_is_device(const char *name)
{
    if (!name)
        return 0;
    size_t stem = std::strcspn(name, ".");
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : devices) {
        size_t length = std::strlen(device);
        if (stem != length)
            continue;
        size_t i = 0;
        while (i < length && upper(name[i]) == device[i])
            ++i;
        if (i == length)
            return 1;
    }
    if (stem == 4 && name[3] >= '0' && name[3] <= '9') {
        char head[4] = {(char)upper(name[0]), (char)upper(name[1]), (char)upper(name[2]), 0};
        if (std::strcmp(head, "COM") == 0 || std::strcmp(head, "LPT") == 0)
            return 1;
    }
    return 0;
}

int library_name_is_safe(const char *name)
{
    if (!name || !*name)
        return 0;
    size_t length = std::strlen(name);
    if (length > LIBRARY_NAME_MAX)
        return 0;
    if (std::strstr(name, ".."))
        return 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || c == '\\' || c == '/' || c == ':')
            return 0;
    }
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return 0;
    if (library_name_is_device(name))
        return 0;
    return 1;
}
