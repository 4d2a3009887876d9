// Messages whose argument is a pointer must point into the target process: these helpers
// place the argument there (VirtualAllocEx / WriteProcessMemory / ReadProcessMemory).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Every row of a list view, every column, or false when the program did not answer.
bool read_list_rows(HWND list, std::vector<std::vector<std::wstring>> &rows);

// LVM_GETITEMCOUNT; -1 when the program did not answer in time.
int list_row_count(HWND list);

// IPM_GETADDRESS through a variable in the target process. False when it did not answer.
bool read_ip_address(HWND control, unsigned long &address);
