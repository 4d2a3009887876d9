#include "app/instance_guard.h"

#include <windows.h>

static const char INSTANCE_NAME[] = "Local\\TervalenWyndale.Pavoset.Instance";
static HANDLE g_instance_mutex = nullptr;

int take_instance_guard()
{
    if (g_instance_mutex)
        return 1;
    g_instance_mutex = CreateMutexA(nullptr, FALSE, INSTANCE_NAME);
    // Without the mutex nobody can be told apart; run rather than refuse.
    if (!g_instance_mutex)
        return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    return 1;
}

void release_instance_guard()
{
    if (g_instance_mutex)
        CloseHandle(g_instance_mutex);
    g_instance_mutex = nullptr;
}
