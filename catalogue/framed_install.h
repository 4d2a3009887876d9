// Installation over the framed channel.
#pragma once
#include <windows.h>
#include "catalogue/install_report.h"

// Number of files installed into the install folder; report (when given) receives the
// failures.
int install_over_framed(HWND main_window, HWND list_view, install_report *report = nullptr);

// Nonzero in a run with nobody to answer a box: a failed file is only reported.
extern int g_quiet_install_failures;
