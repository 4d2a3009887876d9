#include "catalogue/file_time.h"
#include <windows.h>
#include "core/decimal_text.h"

int set_file_time_from_entry(const char *path, const catalogue_entry *entry)
{
    // A record without its time fields would otherwise stamp the file with 1601.
    if (!path || !entry || !entry->time_low || !entry->time_high)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    FILETIME written;
    written.dwLowDateTime = (DWORD)parse_i32_saturated(entry->time_low);
    written.dwHighDateTime = (DWORD)parse_i32_saturated(entry->time_high);
    BOOL ok = SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return ok ? 1 : 0;
}
