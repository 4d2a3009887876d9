// Which files an install pass installed or failed, for the run log (and the console of an
// unattended run), told from the rows before and after the pass and the pass's report.
#pragma once
#include <windows.h>
#include "catalogue/catalogue.h"
#include "catalogue/install_report.h"

struct rows_before_install {
    int rows;
    char status[CATALOGUE_MAX_ENTRIES][16];
};

void remember_rows(HWND list_view, rows_before_install *before);

// Logs one line per file the pass tried and a summary; echo (may be null) gets the same
// lines. Returns the number of files that are not Match afterwards.
int log_install_pass(HWND list_view, const rows_before_install *before,
                     const install_report *report, int installed, void (*echo)(const char *line));
