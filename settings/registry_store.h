// Text values under HKEY_CURRENT_USER\SETTINGS_KEY.
#pragma once

// The key of the program's settings. The publisher key is read from the same path under
// HKEY_LOCAL_MACHINE too. The end-to-end scripts read this line (tests/e2e/texts.sh).
#define SETTINGS_KEY "SOFTWARE\\TervalenWyndale\\PlimoExcel\\Server"

// The value names under that key, each written once: the code, the policy templates and the
// installer package take them from these lines.
#define SETTING_IP            "ip"
#define SETTING_PORT          "port"
#define SETTING_PROTOCOL      "IsPlimo"
#define SETTING_PUBLISHER_KEY "PublisherKey"
#define SETTING_LIBRARY_URL   "LibraryUrl"
#define SETTING_AUTO_INSTALL  "AutoInstall"

int write_setting(const char *name, const char *text);
int read_setting(const char *name, char *buffer, int capacity);

// Where a setting that machine policy may give was found.
enum setting_source { SETTING_NOWHERE = 0, SETTING_FROM_MACHINE, SETTING_FROM_USER };

// Reads name from HKEY_LOCAL_MACHINE\SETTINGS_KEY (the 64-bit registry view, then the 32-bit
// one: a policy may have been written to either) and then from HKEY_CURRENT_USER. A blank
// value counts as absent. A value that is there but is no REG_SZ, or does not fit in
// capacity - 1 bytes, is configured and wrong: *unreadable becomes 1 and the search stops at
// that source, so a broken policy never falls through to a weaker one. Returns the source
// (buffer holds the text), or SETTING_NOWHERE (buffer empty).
// A key that exists but cannot be opened (access denied) is unreadable too.
int read_layered_setting(const char *name, char *buffer, int capacity, int *unreadable);
// 1 when HKEY_LOCAL_MACHINE\SETTINGS_KEY (either view) holds a value of that name, blank or of
// any type.
int machine_setting_present(const char *name);
