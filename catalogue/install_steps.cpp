#include "catalogue/install_steps.h"
#include <cstring>
#include "catalogue/file_time.h"
#include "catalogue/install_lock.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "catalogue/manifest_check.h"
#include "catalogue/staging_leftovers.h"
#include "core/decimal_text.h"
#include "net/framed/staged_file.h"
#include "res/texts.h"

const catalogue_entry *entry_for_row(int row)
{
    if (!g_catalogue || row < 0 || row >= g_catalogue_count)
        return nullptr;
    return &g_catalogue[row];
}

void make_transfer_check(const catalogue_entry *entry, const char *name, transfer_check *check)
{
    // A row without its entry, or an entry without size or CRC, checks against 0 as the
    // comparison reads those texts: such a download is refused rather than trusted.
    check->check_size = 1;
    check->size = (uint32_t)parse_i32_saturated(entry ? entry->size : nullptr);
    check->check_crc = crc_check_waived(name) ? 0 : 1;
    check->crc = parse_u32_saturated(entry ? entry->crc : nullptr);
    add_signature_check(name, check);
}

int refused_by_signature(install_report *report, int row, const char *name)
{
    int refusal = signed_file_refusal(entry_for_row(row), name);
    if (refusal == INSTALL_OK)
        return 0;
    report_failure(report, name, refusal);
    return 1;
}

void report_begin(install_report *report)
{
    if (report)
        memset(report, 0, sizeof *report);
}

void report_installed(install_report *report)
{
    if (report)
        ++report->installed;
}

void report_failure(install_report *report, const char *name, int reason)
{
    if (!report)
        return;
    // A list holds at most 15 rows; the cap only keeps readers of the arrays in bounds.
    if (report->failed >= INSTALL_REPORT_MAX)
        return;
    lstrcpynA(report->failed_names[report->failed], name ? name : "",
              sizeof report->failed_names[0]);
    report->failed_reasons[report->failed] = reason;
    ++report->failed;
}

void report_waiting_rows(HWND list_view, install_report *report, int reason)
{
    int rows = list_row_count(list_view);
    char name[260];
    for (int row = 0; (row = next_waiting_row(list_view, row, rows, name, sizeof name)) >= 0; ++row)
        report_failure(report, name, reason);
}

int next_waiting_row(HWND list_view, int row, int rows, char *name, int capacity)
{
    for (; row < rows; ++row) {
        char status[260];
        read_cell(list_view, row, COLUMN_STATUS, status, sizeof status);
        if (strcmp(status, TEXT_STATUS_MATCH) != 0) {
            read_cell(list_view, row, COLUMN_NAME, name, capacity);
            return row;
        }
    }
    return -1;
}

HANDLE begin_install_pass(void)
{
    HANDLE lock = take_install_lock();
    if (lock)
        remove_staging_leftovers(LIBRARY_FOLDER);
    return lock;
}

HANDLE begin_pass_over_rows(HWND main_window, HWND list_view, install_report *report, int *rows)
{
    report_begin(report);
    *rows = 0;
    if (!main_window || !list_view)
        return nullptr;
    *rows = list_row_count(list_view);
    if (*rows == 0)
        return nullptr;
    HANDLE lock = begin_install_pass();
    if (!lock)
        report_waiting_rows(list_view, report, INSTALL_LOCKED);
    return lock;
}

void mark_row_installed(HWND list_view, int row, const char *path)
{
    write_cell(list_view, row, COLUMN_STATUS, TEXT_STATUS_MATCH);
    set_file_time_from_entry(path, entry_for_row(row));
    InterlockedIncrement((volatile LONG *)&g_installed_count);
}

void record_installed_row(HWND list_view, install_report *report, int row, const char *name,
                          const char *size_text)
{
    report_installed(report);
    if (size_text)
        write_cell(list_view, row, COLUMN_LOCAL_SIZE, size_text);
    char path[MAX_PATH];
    install_path(path, name);
    mark_row_installed(list_view, row, path);
}
