// Offline.INI: server host and port from the current directory or the install folder.
#pragma once

// 1 when a configuration file was loaded; host (64 bytes) and port written only when found.
int load_offline_config(char *host, unsigned short *port);
int file_exists(const char *path);
int copy_file_into(const char *source, const char *folder, const char *file_name);
