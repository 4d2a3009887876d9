#include "settings_registry.h"

#include "settings/registry_store.h"

std::string stored_setting(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char data[300] = {0};
    DWORD size = sizeof data - 1;
    RegQueryValueExA(key, name, NULL, NULL, (BYTE *)data, &size);
    RegCloseKey(key);
    return data;
}

bool has_setting(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG status = RegQueryValueExA(key, name, NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void remove_setting(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

void put_setting(const char *name, const std::string &text)
{
    put_raw_setting(name, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

bool raw_setting(const char *name, std::string *bytes, DWORD *type)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char data[1024];
    DWORD length = sizeof data;
    LONG status = RegQueryValueExA(key, name, nullptr, type, (BYTE *)data, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    bytes->assign(data, length);
    return true;
}

void put_raw_setting(const char *name, DWORD type, const void *data, DWORD length)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, (const BYTE *)data, length);
    RegCloseKey(key);
}

void delete_settings_tree()
{
    // SETTINGS_KEY without its last two parts: the program's own key.
    std::string own = SETTINGS_KEY;
    own.resize(own.rfind('\\'));
    own.resize(own.rfind('\\'));
    RegDeleteTreeA(HKEY_CURRENT_USER, own.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, own.c_str());
}

saved_setting::saved_setting(const char *value_name) : name(value_name)
{
    char buffer[512] = {0};
    DWORD length = sizeof buffer - 1;
    present = RegGetValueA(HKEY_CURRENT_USER, SETTINGS_KEY, name, RRF_RT_REG_SZ, nullptr, buffer,
                           &length) == ERROR_SUCCESS;
    value = buffer;
}

saved_setting::~saved_setting()
{
    if (!present)
        remove_setting(name);
    else
        put_setting(name, value);
}

void put_machine_setting(const char *name, DWORD type, const void *data, DWORD length, REGSAM view)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE | view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, (const BYTE *)data, length);
    RegCloseKey(key);
}

void put_machine_text(const char *name, const std::string &text, REGSAM view)
{
    put_machine_setting(name, REG_SZ, text.c_str(), (DWORD)text.size() + 1, view);
}

void remove_machine_setting(const char *name)
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_SET_VALUE | view, &key) !=
            ERROR_SUCCESS)
            continue;
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

static void remove_policy_values()
{
    for (const char *name : {SETTING_IP, SETTING_PORT, SETTING_AUTO_INSTALL})
        remove_machine_setting(name);
}

machine_policy_guard::machine_policy_guard()
{
    remove_policy_values();
}

machine_policy_guard::~machine_policy_guard()
{
    remove_policy_values();
}

closed_machine_key::closed_machine_key()
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0,
                        READ_CONTROL | WRITE_DAC | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    char descriptor[4096];
    DWORD size = sizeof descriptor;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor, &size) == ERROR_SUCCESS) {
        saved.assign(descriptor, size);
        SECURITY_DESCRIPTOR none;
        ACL empty;
        InitializeSecurityDescriptor(&none, SECURITY_DESCRIPTOR_REVISION);
        InitializeAcl(&empty, sizeof empty, ACL_REVISION);
        SetSecurityDescriptorDacl(&none, TRUE, &empty, FALSE);
        closed = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &none) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
}

closed_machine_key::~closed_machine_key()
{
    if (!closed)
        return;
    // The owner may always change the DACL back.
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, WRITE_DAC | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return;
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, (PSECURITY_DESCRIPTOR)&saved[0]);
    RegCloseKey(key);
}
