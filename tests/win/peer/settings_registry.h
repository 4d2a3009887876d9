// The program's settings in the registry (HKEY_CURRENT_USER\SETTINGS_KEY), read and changed
// behind its back, and put back after a test.
#pragma once
#include <windows.h>

#include <string>

std::string stored_setting(const char *name);  // "" when absent
bool has_setting(const char *name);
void remove_setting(const char *name);
void put_setting(const char *name, const std::string &text);
// The value's raw bytes and type as stored; false when the key or value is missing.
bool raw_setting(const char *name, std::string *bytes, DWORD *type);
void put_raw_setting(const char *name, DWORD type, const void *data, DWORD length);
void delete_settings_tree();  // HKCU\SOFTWARE\TervalenWyndale and below (SETTINGS_KEY's parents)

// One text value as it was when made, put back (or removed again) when destroyed.
struct saved_setting {
    const char *name;
    bool present = false;
    std::string value;

    explicit saved_setting(const char *value_name);
    ~saved_setting();
};

// The values a test of the address settings changes.
struct registry_guard {
    saved_setting ip{"ip"}, port{"port"}, preference{"IsPlimo"};
};

// Machine policy values: HKEY_LOCAL_MACHINE\SETTINGS_KEY in one registry view (64-bit, or
// KEY_WOW64_32KEY where a 32-bit installer writes), as raw data or text.
void put_machine_setting(const char *name, DWORD type, const void *data, DWORD length,
                         REGSAM view = KEY_WOW64_64KEY);
void put_machine_text(const char *name, const std::string &text, REGSAM view = KEY_WOW64_64KEY);
void remove_machine_setting(const char *name);  // from both views

// The machine values a policy test sets: none when made, none again when destroyed.
struct machine_policy_guard {
    machine_policy_guard();
    ~machine_policy_guard();
};

// HKEY_LOCAL_MACHINE\SETTINGS_KEY (64-bit view) made, for one test, a key that exists but that
// nobody may open (a DACL without entries); its security put back when destroyed.
struct closed_machine_key {
    closed_machine_key();
    ~closed_machine_key();
    bool closed = false;
    std::string saved;  // the key's security descriptor as it was
};
