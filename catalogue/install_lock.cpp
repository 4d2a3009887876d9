// A named mutex rather than a lock file: the system releases it when its holder dies, so a
// killed run never blocks the next one. "Global\" so that two users' sessions, which share
// the one install folder, also take turns.
#include "catalogue/install_lock.h"

HANDLE take_install_lock(void)
{
    return take_install_lock_within(0);
}

HANDLE take_install_lock_within(DWORD wait_ms)
{
    HANDLE lock = CreateMutexA(nullptr, FALSE, INSTALL_LOCK_NAME);
    if (!lock)
        return nullptr;
    DWORD waited = WaitForSingleObject(lock, wait_ms);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return lock;
    CloseHandle(lock);
    return nullptr;
}

void release_install_lock(HANDLE lock)
{
    if (!lock)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}
