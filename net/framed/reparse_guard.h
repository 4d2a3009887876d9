// Refusing links in the install folder. The folder is writable by every account of the PC,
// while the program may run as another (an administrator, the service): a junction or
// symbolic link put in place of the folder or of one of its files would send a delete or a
// write elsewhere. So every cleanup and every write looks at the thing itself, never at what
// it points to, and refuses a reparse point.
#pragma once
#include <windows.h>

// Opens folder itself (not what a link points to), held without FILE_SHARE_DELETE so that it
// cannot be renamed away and replaced while the caller works in it. The handle, or
// INVALID_HANDLE_VALUE when the folder is missing, unreadable or a reparse point
// (*reparse_point set to 1 then).
HANDLE hold_folder_in_place(const char *folder, int *reparse_point);

// 1 when path exists and is itself a reparse point (a junction, a symbolic link).
int is_reparse_point(const char *path);

// Deletes path through one handle opened without following a link, and only when that
// handle's file is a plain file (no directory, no reparse point) carrying every attribute of
// required_attributes. 1 when it is gone.
int delete_plain_file(const char *path, DWORD required_attributes);
