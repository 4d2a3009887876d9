// Steps shared by the three install passes (text, framed, web).
#pragma once
#include <windows.h>
#include "catalogue/catalogue.h"
#include "catalogue/install_report.h"
#include "net/framed/framed_transfer.h"
#include "res/resource.h"


// The catalogue entry of list row i, or null when the catalogue has no such entry.
const catalogue_entry *entry_for_row(int row);

// What a download must match before it replaces the installed file: the catalogue's size
// always, its CRC-32 unless crc_check_waived(name), as the comparison.
void make_transfer_check(const catalogue_entry *entry, const char *name, transfer_check *check);

// 1 when the publisher's manifest does not vouch for row's file; the failure is reported.
int refused_by_signature(install_report *report, int row, const char *name);

void report_begin(install_report *report);
void report_installed(install_report *report);
void report_failure(install_report *report, const char *name, int reason);

// The first row from row on (below rows) that is not Match, its name in name; -1 when none.
int next_waiting_row(HWND list_view, int row, int rows, char *name, int capacity);

// Reports every row that is not Match as failed for reason: a pass that cannot start must
// not read as "nothing to upgrade" while rows still wait.
void report_waiting_rows(HWND list_view, install_report *report, int reason);

// Takes the install lock and removes the staging files a killed run left in the install
// folder. Null when another instance is installing; release with release_install_lock.
HANDLE begin_install_pass(void);

// The start of every install pass: report emptied, then begin_install_pass for a pass over
// list_view, whose row count goes to *rows. Null without a window or a list, when there are
// no rows, or when another instance installs (every waiting row is then reported so).
HANDLE begin_pass_over_rows(HWND main_window, HWND list_view, install_report *report, int *rows);

// Marks row i installed: status Match, the file's time from the catalogue, the counters.
void mark_row_installed(HWND list_view, int row, const char *path);

// The end of a file that is in place: counted in report, its size (when size_text is given)
// in the row's local size column, the row marked installed.
void record_installed_row(HWND list_view, install_report *report, int row, const char *name,
                          const char *size_text);
