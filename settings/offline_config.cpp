#include "settings/offline_config.h"
#include <windows.h>
#include <cstdio>
#include <cstring>
#include "core/config_loader.h"
#include "core/decimal_text.h"
#include "net/framed/framed_transfer.h"
#include "net/server_address.h"

static const char INSTALL_FOLDER_CONFIG[] = LIBRARY_FOLDER "Offline.INI";
static const char CONFIG_FILE_NAME[] = "Offline.INI";

// The directory the process started in, taken at first use and kept for the process.
static char g_base_directory[MAX_PATH];

static const char *base_directory()
{
    if (!g_base_directory[0]) {
        DWORD length = GetCurrentDirectoryA(sizeof g_base_directory, g_base_directory);
        if (length == 0 || length >= sizeof g_base_directory)
            g_base_directory[0] = 0;
    }
    return g_base_directory;
}

int file_exists(const char *path)
{
    if (!path || !path[0])
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

int copy_file_into(const char *source, const char *folder, const char *file_name)
{
    if (!source || !source[0] || !folder || !folder[0] || !file_name || !file_name[0] ||
        !file_exists(source))
        return 0;
    char destination[MAX_PATH];
    size_t folder_length = strlen(folder);
    const char *joint = folder[folder_length - 1] == '\\' ? "" : "\\";
    if (snprintf(destination, sizeof destination, "%s%s%s", folder, joint, file_name) >=
        (int)sizeof destination)
        return 0;
    FILE *in = fopen(source, "rb");
    if (!in)
        return 0;
    if (!ensure_directory(folder)) {
        fclose(in);
        return 0;
    }
    FILE *out = fopen(destination, "wb");
    if (!out) {
        fclose(in);
        return 0;
    }
    char chunk[260];
    size_t got;
    int ok = 1;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        if (fwrite(chunk, 1, got, out) != got) {
            ok = 0;
            break;
        }
    }
    fclose(in);
    if (fclose(out) != 0)
        ok = 0;
    return ok;
}

int load_offline_config(char *host, unsigned short *port)
{
    if (!host || !port)
        return 0;
    config_section tree = {};
    char candidate[MAX_PATH + 16];
    const char *base = base_directory();
    size_t base_length = strlen(base);
    // A root directory already ends in its separator.
    const char *joint = (base_length > 0 && base[base_length - 1] == '\\') ? "" : "\\";
    snprintf(candidate, sizeof candidate, "%s%s%s", base, joint, CONFIG_FILE_NAME);

    if (load_config(candidate, &tree) > 0) {
        if (strcmp(candidate, INSTALL_FOLDER_CONFIG) != 0 && !file_exists(INSTALL_FOLDER_CONFIG))
            copy_file_into(candidate, LIBRARY_FOLDER, CONFIG_FILE_NAME);
    } else if (load_config(INSTALL_FOLDER_CONFIG, &tree) <= 0) {
        release_config(&tree);
        return 0;
    }

    char value[260];
    // A longer host would not fit the address; it is refused rather than cut into
    // a different host.
    if (get_config_value(&tree, "SERVER", "IP", value, sizeof value) &&
        strlen(value) < SERVER_HOST_SIZE)
        strcpy(host, value);
    if (get_config_value(&tree, "SERVER", "PORT", value, sizeof value))
        *port = (unsigned short)((uint32_t)parse_i32_saturated(value) & 0xFFFF);
    release_config(&tree);
    return 1;
}

// The two places of Offline.INI: the start directory's file, then the install folder's.
static void offline_candidate(char *candidate, size_t capacity)
{
    // Looking a value up must not be what fixes the start directory for the server address.
    char current[MAX_PATH] = {0};
    const char *base = g_base_directory;
    if (!base[0]) {
        DWORD length = GetCurrentDirectoryA(sizeof current, current);
        if (length == 0 || length >= sizeof current)
            current[0] = 0;
        base = current;
    }
    size_t base_length = strlen(base);
    const char *joint = (base_length > 0 && base[base_length - 1] == '\\') ? "" : "\\";
    snprintf(candidate, capacity, "%s%s%s", base, joint, CONFIG_FILE_NAME);
}

// 1: the file holds the value; 0: it holds entries but not this one; -1: no entries at all.
static int value_in_file(const char *path, const char *section, const char *key, char *out,
                         int capacity)
{
    config_section tree = {};
    int entries = file_exists(path) ? load_config(path, &tree) : 0;
    int found = entries > 0 && get_config_value(&tree, section, key, out, capacity);
    release_config(&tree);
    if (!found)
        out[0] = 0;
    return found ? 1 : entries > 0 ? 0 : -1;
}

int read_offline_value(const char *section, const char *key, char *out, int capacity)
{
    if (!section || !key || !out || capacity <= 0)
        return 0;
    out[0] = 0;
    char candidate[MAX_PATH + 16];
    offline_candidate(candidate, sizeof candidate);
    // The same file load_offline_config would take: the first that holds any entry.
    const char *files[] = {candidate, INSTALL_FOLDER_CONFIG};
    for (const char *path : files) {
        int found = value_in_file(path, section, key, out, capacity);
        if (found >= 0)
            return found;
    }
    return 0;
}

int read_offline_value_in_either(const char *section, const char *key, char *out, int capacity)
{
    if (!section || !key || !out || capacity <= 0)
        return 0;
    out[0] = 0;
    char candidate[MAX_PATH + 16];
    offline_candidate(candidate, sizeof candidate);
    const char *files[] = {candidate, INSTALL_FOLDER_CONFIG};
    for (const char *path : files)
        if (value_in_file(path, section, key, out, capacity) == 1)
            return 1;
    return 0;
}
