#include "catalogue/staging_leftovers.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

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
    size_t length = strlen(folder);
    const char *separator = folder[length - 1] == '\\' ? "" : "\\";
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s%s*.tmp", folder, separator) >= (int)sizeof pattern)
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !is_staging_name(found.cFileName))
            continue;
        // Ours are born hidden; a visible file of that name is the library's or the user's.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN))
            continue;
        char path[MAX_PATH];
        if (snprintf(path, sizeof path, "%s%s%s", folder, separator, found.cFileName) >=
            (int)sizeof path)
            continue;
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path))
            ++removed;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return removed;
}
