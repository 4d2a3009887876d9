// Whether a second installer (another session's window, a scheduled -install) could start
// now: the program's install lock, taken and let go at once, as such a run would.
#include "catalogue/install_lock.h"
#include "command_support.h"

int install_lock_command(const options &opts)
{
    (void)opts;
    HANDLE lock = CreateMutexA(nullptr, FALSE, INSTALL_LOCK_NAME);
    if (!lock)
        return fail("install lock: cannot be opened");
    DWORD waited = WaitForSingleObject(lock, 0);
    bool free = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (free)
        ReleaseMutex(lock);
    CloseHandle(lock);
    print_line(free ? L"free" : L"held");
    return free ? EXIT_OK : EXIT_FAILED;
}
