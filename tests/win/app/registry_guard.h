// Puts the program's registry values back as they were after a test that changes them.
#pragma once
#include <windows.h>

#include <string>

#include "settings/registry_store.h"

inline void delete_setting(const char *name)
{
    RegDeleteKeyValueA(HKEY_CURRENT_USER, SETTINGS_KEY, name);
}

struct saved_setting {
    const char *name;
    bool present = false;
    std::string value;

    explicit saved_setting(const char *value_name) : name(value_name)
    {
        char buffer[512] = {0};
        DWORD length = sizeof buffer - 1;
        present = RegGetValueA(HKEY_CURRENT_USER, SETTINGS_KEY, name, RRF_RT_REG_SZ, nullptr,
                               buffer, &length) == ERROR_SUCCESS;
        value = buffer;
    }
    ~saved_setting()
    {
        if (!present)
            delete_setting(name);
        else
            RegSetKeyValueA(HKEY_CURRENT_USER, SETTINGS_KEY, name, REG_SZ, value.c_str(),
                            (DWORD)value.size() + 1);
    }
};

struct registry_guard {
    saved_setting ip{"ip"}, port{"port"}, preference{"IsPlimo"};
};
