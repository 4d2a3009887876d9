#include "app/background_retrieval.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>


// Guards the target window, the progress text and the result: posting and abandoning
// must not cross, or a late message could reach a destroyed window (or a new one that
// got its handle).
static SRWLOCK g_lock = SRWLOCK_INIT;
static HWND g_target = nullptr;
static char g_progress[256] = {0};
static retrieval_result g_result;
static volatile LONG g_in_flight = 0;
static volatile LONG g_abandoned = 0;
static int g_delivered = 0;  // the result was posted: the window owns the state again
static HANDLE g_thread = nullptr;

static void post_progress(void *, const char *text)
{
    AcquireSRWLockExclusive(&g_lock);
    snprintf(g_progress, sizeof g_progress, "%s", text);
    if (g_target)
        PostMessageA(g_target, WM_RETRIEVAL_PROGRESS, 0, 0);
    ReleaseSRWLockExclusive(&g_lock);
}

// What the window would have released at its end, released by the thread that held it.
static DWORD WINAPI retrieval_thread(LPVOID)
{
    retrieval_result result;
    retrieve_catalogue(&result, post_progress, nullptr, &g_abandoned);
    AcquireSRWLockExclusive(&g_lock);
    g_result = result;
    int delivered = g_target && PostMessageA(g_target, WM_RETRIEVAL_DONE, 0, 0);
    g_delivered = delivered;
    ReleaseSRWLockExclusive(&g_lock);
    if (!delivered) {
        release_retrieval_state(0);
        InterlockedExchange(&g_in_flight, 0);
    }
    return 0;
}

int start_background_retrieval(HWND window)
{
    if (InterlockedCompareExchange(&g_in_flight, 1, 0) != 0)
        return 0;
    AcquireSRWLockExclusive(&g_lock);
    g_target = window;
    g_delivered = 0;
    g_progress[0] = 0;
    ReleaseSRWLockExclusive(&g_lock);
    InterlockedExchange(&g_abandoned, 0);
    if (g_thread) {
        CloseHandle(g_thread);
        g_thread = nullptr;
    }
    g_thread = CreateThread(nullptr, 0, retrieval_thread, nullptr, 0, nullptr);
    if (!g_thread) {
        InterlockedExchange(&g_in_flight, 0);
        return 0;
    }
    return 1;
}

int retrieval_in_flight()
{
    return g_in_flight != 0;
}

void retrieval_progress_text(char *out, int capacity)
{
    if (!out || capacity <= 0)
        return;
    AcquireSRWLockShared(&g_lock);
    snprintf(out, capacity, "%s", g_progress);
    ReleaseSRWLockShared(&g_lock);
}

void retrieval_take_result(retrieval_result *result)
{
    AcquireSRWLockExclusive(&g_lock);
    *result = g_result;
    g_target = nullptr;
    ReleaseSRWLockExclusive(&g_lock);
    InterlockedExchange(&g_in_flight, 0);
}

int abandon_retrieval()
{
    if (!g_in_flight)
        return 0;
    InterlockedExchange(&g_abandoned, 1);
    AcquireSRWLockExclusive(&g_lock);
    g_target = nullptr;
    int delivered = g_delivered;
    ReleaseSRWLockExclusive(&g_lock);
    // A result already on its way to the window is lost with it; the state is the caller's.
    if (delivered)
        InterlockedExchange(&g_in_flight, 0);
    return !delivered;
}

int wait_for_retrieval_end(DWORD timeout_ms)
{
    if (!g_thread)
        return 1;
    int ended = WaitForSingleObject(g_thread, timeout_ms) == WAIT_OBJECT_0;
    if (ended) {
        CloseHandle(g_thread);
        g_thread = nullptr;
    }
    return ended;
}
