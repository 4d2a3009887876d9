// The list rows made from the catalogue, shared by the window and the unattended run.
#pragma once
#include <windows.h>
#include "catalogue/folder_comparison.h"

// One row per catalogue entry, in order, with the local size and status that the comparison
// found (rows[i] for g_catalogue[i], as the retrieval hands them back): only written here, so
// the window's thread reads no file.
void fill_catalogue_rows(HWND list_view, const local_row *rows);
// FIRST_INSTALL_MARK when every row is New (and there is a row), else 0.
int first_install_marker(HWND list_view);
