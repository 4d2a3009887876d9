// One installation into the install folder at a time, across every running instance.
#pragma once
#include <windows.h>

// The named mutex every instance takes to install; the test tools look at it by this name.
#define INSTALL_LOCK_NAME "Global\\PavosetInstallFolder"

// The lock's handle, or null at once when another process (or another thread of this one)
// holds it. A thread that holds it may take it again; every take needs its release. A lock
// left by a process that died is taken over.
HANDLE take_install_lock(void);
// The same, waiting up to wait_ms for another holder to let it go.
HANDLE take_install_lock_within(DWORD wait_ms);
void release_install_lock(HANDLE lock);
