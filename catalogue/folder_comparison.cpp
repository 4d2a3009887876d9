#include "catalogue/folder_comparison.h"

#include <windows.h>
#include <cstdlib>
#include <cstring>

#include "catalogue/local_comparison.h"
#include "res/texts.h"

void (*g_row_comparison_hook)(int row) = nullptr;
DWORD g_helper_stall_ms = HELPER_STALL_MS;

// What both threads share. The helper may outlive the call (given up on, it still reads), so
// the job holds its own copies of the entries' texts and is freed by whoever lets go last.
struct comparison_job {
    int count;
    char *name[CATALOGUE_MAX_ENTRIES];
    char *crc[CATALOGUE_MAX_ENTRIES];
    char *size[CATALOGUE_MAX_ENTRIES];
    local_row rows[CATALOGUE_MAX_ENTRIES];
    volatile LONG finished[CATALOGUE_MAX_ENTRIES];
    volatile LONG finished_count;
    volatile LONG next;  // the next row to take
    volatile LONG stop;  // the caller gave up on the helper: take no more rows
    volatile LONG holders;
};

static char *copy_text(const char *text, int *ok)
{
    if (!text)
        return nullptr;
    char *copy = _strdup(text);
    if (!copy)
        *ok = 0;
    return copy;
}

static void release_job(comparison_job *job)
{
    if (InterlockedDecrement(&job->holders) != 0)
        return;
    for (int i = 0; i < job->count; ++i) {
        free(job->name[i]);
        free(job->crc[i]);
        free(job->size[i]);
    }
    free(job);
}

static comparison_job *make_job(const catalogue_entry *entries, int count)
{
    comparison_job *job = (comparison_job *)calloc(1, sizeof *job);
    if (!job)
        return nullptr;
    job->count = count;
    job->holders = 1;
    int ok = 1;
    for (int i = 0; i < count; ++i) {
        job->name[i] = copy_text(entries[i].name, &ok);
        job->crc[i] = copy_text(entries[i].crc, &ok);
        job->size[i] = copy_text(entries[i].size, &ok);
    }
    if (!ok) {
        release_job(job);
        return nullptr;
    }
    return job;
}

static void compare_row(const char *name, const char *crc, const char *size, int index,
                        local_row *row)
{
    if (g_row_comparison_hook)
        g_row_comparison_hook(index);
    row->outcome = compare_local_file(name, crc, size, row->current_size, row->status);
}

static void take_rows(comparison_job *job)
{
    while (!job->stop) {
        LONG i = InterlockedIncrement(&job->next) - 1;
        if (i >= job->count)
            return;
        compare_row(job->name[i], job->crc[i], job->size[i], i, &job->rows[i]);
        InterlockedExchange(&job->finished[i], 1);
        InterlockedIncrement(&job->finished_count);
    }
}

static DWORD WINAPI helper_thread(LPVOID context)
{
    comparison_job *job = (comparison_job *)context;
    take_rows(job);
    release_job(job);
    return 0;
}

// The helper reads files as this thread does; it is given up on only when it finishes no row
// for g_helper_stall_ms.
static void wait_for_helper(comparison_job *job, HANDLE helper)
{
    LONG seen = InterlockedCompareExchange(&job->finished_count, 0, 0);
    while (WaitForSingleObject(helper, g_helper_stall_ms) != WAIT_OBJECT_0) {
        LONG now = InterlockedCompareExchange(&job->finished_count, 0, 0);
        if (now == seen) {
            InterlockedExchange(&job->stop, 1);
            return;
        }
        seen = now;
    }
}

void compare_catalogue_with_folder(const catalogue_entry *entries, int count, local_row *rows)
{
    if (count > CATALOGUE_MAX_ENTRIES)
        count = CATALOGUE_MAX_ENTRIES;
    comparison_job *job = count > 1 ? make_job(entries, count) : nullptr;
    HANDLE helper = nullptr;
    if (job) {
        job->holders = 2;
        helper = CreateThread(nullptr, 0, helper_thread, job, 0, nullptr);
        if (!helper)
            job->holders = 1;
    }
    if (!helper) {
        if (job)
            release_job(job);
        for (int i = 0; i < count; ++i)
            compare_row(entries[i].name, entries[i].crc, entries[i].size, i, &rows[i]);
        return;
    }
    take_rows(job);
    wait_for_helper(job, helper);
    CloseHandle(helper);
    for (int i = 0; i < count; ++i) {
        if (InterlockedCompareExchange(&job->finished[i], 0, 0)) {
            rows[i] = job->rows[i];
        } else {
            memset(&rows[i], 0, sizeof rows[i]);
            rows[i].outcome = LOCAL_CHANGED;
            lstrcpynA(rows[i].status, TEXT_STATUS_CHANGED, sizeof rows[i].status);
        }
    }
    release_job(job);
}
