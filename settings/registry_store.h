// Text values under HKEY_CURRENT_USER\SETTINGS_KEY.
#pragma once

// The key of the program's settings. The publisher key is read from the same path under
// HKEY_LOCAL_MACHINE too. The end-to-end scripts read this line (tests/e2e/texts.sh).
#define SETTINGS_KEY "SOFTWARE\\TervalenWyndale\\PlimoExcel\\Server"

int write_setting(const char *name, const char *text);
int read_setting(const char *name, char *buffer, int capacity);
