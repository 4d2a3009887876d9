// Loader for sectioned key/value text files (Offline.INI) into a config tree.
#pragma once

struct config_entry {
    char *key;
    char *value;
    config_entry *next;
};

struct config_section {
    char *name;  // absent until the first section header is read
    config_section *next;
    config_entry *first;
};

// Reads path into tree (the caller's first, empty section record). Returns the number of
// entry lines read (accepted, rejected and continuation lines); 0 when the file cannot be
// opened ("load config: ..." on stdout) or holds no entry line.
int load_config(const char *path, config_section *tree);

// 1 when found: value copied into dest, cut to capacity - 1 bytes. dest is emptied first.
int get_config_value(const config_section *tree, const char *section, const char *key, char *dest,
                     int capacity);

// Frees every text, entry and appended section; leaves *tree empty (the caller owns it).
void release_config(config_section *tree);
