// Wine 8 cannot make a junction (FSCTL_SET_REPARSE_POINT fails) and its CreateSymbolicLink
// does nothing, so there these checks never see a reparse point; they are written for Windows.
#include "net/framed/reparse_guard.h"

// Reading the attributes through the handle, not by name: the name may be swapped between a
// look-up and the open, the open file cannot.
static int handle_attributes(HANDLE handle, DWORD *attributes)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return 0;
    *attributes = info.dwFileAttributes;
    return 1;
}

HANDLE hold_folder_in_place(const char *folder, int *reparse_point)
{
    if (reparse_point)
        *reparse_point = 0;
    if (!folder || !folder[0])
        return INVALID_HANDLE_VALUE;
    HANDLE handle = CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    DWORD attributes = 0;
    if (!handle_attributes(handle, &attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (reparse_point)
            *reparse_point = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

int is_reparse_point(const char *path)
{
    if (!path || !path[0])
        return 0;
    HANDLE handle = CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    DWORD attributes = 0;
    int reparse =
        handle_attributes(handle, &attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    CloseHandle(handle);
    return reparse;
}

int delete_plain_file(const char *path, DWORD required_attributes)
{
    if (!path || !path[0])
        return 0;
    HANDLE handle = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    DWORD attributes = 0;
    int plain = handle_attributes(handle, &attributes) &&
                !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                (attributes & required_attributes) == required_attributes;
    int deleted = 0;
    if (plain) {
        // A read-only file refuses its deletion: the mark goes first, on this same handle.
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            FILE_BASIC_INFO basic = {};
            basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
        }
        FILE_DISPOSITION_INFO disposition = {TRUE};
        deleted = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                             sizeof disposition) != FALSE;
    }
    CloseHandle(handle);
    return deleted;
}
