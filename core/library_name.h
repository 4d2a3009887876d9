// Which catalogue names may become files in the install folder. One rule for the client
// and the reference server, so the server never publishes a name the client refuses.
#pragma once

#include "res/resource.h"  // LIBRARY_FOLDER

// The folder and the name together must fit Windows' 259 characters; longer paths would be
// cut, and the cut path names a different file.
enum {
    LIBRARY_PATH_MAX = 259,
    LIBRARY_NAME_MAX = LIBRARY_PATH_MAX - (int)(sizeof LIBRARY_FOLDER - 1)  // 240
};

// 1 when name is non-empty, at most LIBRARY_NAME_MAX bytes, holds no "\", "/", ":", "..",
// nor a control byte (below 0x20, or 0x7F), does not end in "." or " " (Windows drops
// those, so two names would share one file) and is no device name. Code page 949 trail
// bytes never equal these, so a byte scan is exact. 0 otherwise (also for an absent name).
int library_name_is_safe(const char *name);

// 1 when Windows opens the name as a device whatever the folder or extension: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, in any case, alone or before a dot (blanks
// before the dot do not help).
int library_name_is_device(const char *name);
