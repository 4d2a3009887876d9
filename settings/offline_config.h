// Offline.INI: server host and port from the current directory or the install folder.
#pragma once

// 1 when a configuration file was loaded; host (64 bytes) and port written only when found.
int load_offline_config(char *host, unsigned short *port);
int file_exists(const char *path);
int copy_file_into(const char *source, const char *folder, const char *file_name);
// One value of Offline.INI (the current directory's file, else the install folder's), read
// without copying anything. 1 when found; out holds it, cut to capacity - 1 bytes.
int read_offline_value(const char *section, const char *key, char *out, int capacity);
// The same value from whichever of the two files holds it (the current directory's first): a
// file that only sets the server must not hide a value the other one holds.
int read_offline_value_in_either(const char *section, const char *key, char *out, int capacity);
