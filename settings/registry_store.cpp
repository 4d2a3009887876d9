#include "settings/registry_store.h"
#include <windows.h>
#include <cstdio>
#include <cstring>

int write_setting(const char *name, const char *text)
{
    if (!name || !text)
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS &&
        RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return 0;
    // The stored length counts the terminator; whether the store succeeded is not reported.
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
    RegCloseKey(key);
    return 1;
}

int read_setting(const char *name, char *buffer, int capacity)
{
    if (!name || !buffer || capacity <= 0)
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = REG_SZ;
    DWORD length = (DWORD)capacity;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)buffer, &length);
    if (status == ERROR_SUCCESS && length != 0 && length <= (DWORD)capacity) {
        // The last byte returned becomes the terminator, whether or not the stored data
        // carried one.
        if (type == REG_SZ)
            buffer[length - 1] = 0;
        RegCloseKey(key);
        return 1;
    }
    // Missing, too large for the buffer, or empty: read as absent. A query that found no
    // value reports no type of its own (some registries clear it), so the preset stands.
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
        type = REG_SZ;
    if (type == REG_SZ)
        buffer[0] = 0;
    else if (type == REG_DWORD && capacity >= 4)
        memset(buffer, 0, 4);
    RegCloseKey(key);
    return 0;
}
