// The whole catalogue compared with the install folder, row by row as compare_local_file
// does, two files at a time: with a publisher key every file is hashed, and one thread
// cannot both read and hash a library as fast as it is read for its CRC-32. Blocking; the
// retrieval runs it, never the window's thread.
#pragma once
#include <windows.h>
#include "catalogue/catalogue.h"

struct local_row {
    int outcome;            // enum local_comparison
    char current_size[16];  // "" when there is no file
    char status[7];         // TEXT_STATUS_NEW, _CHANGED or _MATCH
};

// rows[i] for entries[i], i < count (at most CATALOGUE_MAX_ENTRIES). Each file is read once,
// by one of two threads (this one and a helper) taking the rows in turn; without a helper
// thread this one compares them all. A row whose file the helper cannot finish reading within
// HELPER_STALL_MS is left Changed, as an unreadable file is, for the installer to try.
void compare_catalogue_with_folder(const catalogue_entry *entries, int count, local_row *rows);

enum { HELPER_STALL_MS = 120000 };

// For the tests: called before each row is compared, on the thread that compares it; and the
// stall bound in force (HELPER_STALL_MS).
extern void (*g_row_comparison_hook)(int row);
extern DWORD g_helper_stall_ms;
