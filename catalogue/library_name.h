// Which catalogue names may become files in the install folder.
#pragma once

enum { LIBRARY_NAME_MAX = 246 };  // "C:\TervalenWyndale\" + name + NUL fits 260 bytes, request too

// 1 when name is non-empty, at most 246 bytes, and holds no "\", "/", ":", "..", nor a
// control byte (below 0x20, or 0x7F). Code page 949 trail bytes never equal these, so a byte
// scan is exact. 0 otherwise (also for an absent name).
int library_name_is_safe(const char *name);
