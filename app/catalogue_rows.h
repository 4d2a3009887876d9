// The list rows made from the catalogue, shared by the window and the unattended run.
#pragma once
#include <windows.h>

// One row per catalogue entry, in order, with the local size and status.
void fill_catalogue_rows(HWND list_view);
// FIRST_INSTALL_MARK when every row is New (and there is a row), else 0.
int first_install_marker(HWND list_view);
