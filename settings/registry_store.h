// Text values under HKEY_CURRENT_USER\SOFTWARE\TervalenWyndale\PlimoExcel\Server.
#pragma once

int write_setting(const char *name, const char *text);
int read_setting(const char *name, char *buffer, int capacity);
