#include "catalogue/staging_leftovers.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

#include "net/framed/reparse_guard.h"

// Our temporary files' names: "pvs" (a download, or the ledger) or "pvl" (the ledger of
// earlier versions), then eight hex digits, or one to four as GetTempFileNameA gave them in
// earlier versions, then ".tmp". A user's file of another shape is never touched.
static int is_staging_name(const char *name)
{
    if (_strnicmp(name, "pvs", 3) != 0 && _strnicmp(name, "pvl", 3) != 0)
        return 0;
    const char *p = name + 3;
    int digits = 0;
    while (digits < 9 &&
           ((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') || (*p >= 'A' && *p <= 'F'))) {
        ++p;
        ++digits;
    }
    return ((digits >= 1 && digits <= 4) || digits == 8) && _stricmp(p, ".tmp") == 0;
}

int remove_staging_leftovers(const char *folder)
{
    if (!folder || !folder[0])
        return 0;
    // The folder itself, never what a junction in its place points to; held so that it cannot
    // be swapped for one while its files are looked at.
    int reparse_point = 0;
    HANDLE held = hold_folder_in_place(folder, &reparse_point);
    if (held == INVALID_HANDLE_VALUE)
        return reparse_point ? STAGING_FOLDER_REFUSED : 0;
    size_t length = strlen(folder);
    const char *separator = folder[length - 1] == '\\' ? "" : "\\";
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (snprintf(pattern, sizeof pattern, "%s%s*.tmp", folder, separator) < (int)sizeof pattern)
        search = FindFirstFileA(pattern, &found);
    int removed = 0;
    while (search != INVALID_HANDLE_VALUE) {
        char path[MAX_PATH];
        // Ours are born hidden; a visible file of that name is the library's or the user's.
        // The handle that deletes checks it again: the name may be another file by then.
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && is_staging_name(found.cFileName) &&
            snprintf(path, sizeof path, "%s%s%s", folder, separator, found.cFileName) <
                (int)sizeof path &&
            delete_plain_file(path, FILE_ATTRIBUTE_HIDDEN))
            ++removed;
        if (!FindNextFileA(search, &found))
            break;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    CloseHandle(held);
    return removed;
}
