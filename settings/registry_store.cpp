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

// 1: found (text in buffer); 0: absent or blank; -1: present but unreadable.
static int read_one_source(HKEY root, REGSAM view, const char *name, char *buffer, int capacity)
{
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExA(root, SETTINGS_KEY, 0, KEY_QUERY_VALUE | view, &key);
    // Only a key that is not there is absent: one that exists but cannot be opened (access
    // denied) may hold a policy, and counting it as absent would hand over to a weaker source.
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND) {
        buffer[0] = 0;
        return 0;
    }
    if (opened != ERROR_SUCCESS) {
        buffer[0] = 0;
        return -1;
    }
    DWORD type = 0, length = (DWORD)capacity - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)buffer, &length);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND) {
        buffer[0] = 0;
        return 0;
    }
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        buffer[0] = 0;
        return -1;
    }
    buffer[length < (DWORD)capacity ? length : (DWORD)capacity - 1] = 0;
    if (buffer[strspn(buffer, " \t")] == 0) {
        buffer[0] = 0;
        return 0;
    }
    return 1;
}

int read_layered_setting(const char *name, char *buffer, int capacity, int *unreadable)
{
    if (unreadable)
        *unreadable = 0;
    if (!name || !buffer || capacity < 2)
        return SETTING_NOWHERE;
    static const struct {
        HKEY root;
        REGSAM view;
        int source;
    } order[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, SETTING_FROM_MACHINE},
                 {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, SETTING_FROM_MACHINE},
                 {HKEY_CURRENT_USER, 0, SETTING_FROM_USER}};
    for (const auto &place : order) {
        int found = read_one_source(place.root, place.view, name, buffer, capacity);
        if (found == 1)
            return place.source;
        if (found < 0) {
            if (unreadable)
                *unreadable = 1;
            return place.source;
        }
    }
    buffer[0] = 0;
    return SETTING_NOWHERE;
}

int machine_setting_present(const char *name)
{
    static const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (REGSAM view : views) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE | view, &key) !=
            ERROR_SUCCESS)
            continue;
        LONG status = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)
            return 1;
    }
    return 0;
}
