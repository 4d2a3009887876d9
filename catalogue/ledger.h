// The install ledger EXCELLIBINFO.DAT: one CR LF line per list row, five fields by "^|".
#pragma once
#include <windows.h>

// Written to a temporary file that then replaces the old ledger. 1 on success.
int write_ledger(HWND list_view);
