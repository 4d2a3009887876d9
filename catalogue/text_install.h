// Installation over the text channel.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include "catalogue/install_report.h"
#include "net/framed/framed_transfer.h"

// Number of files installed; report (when given) receives the failures.
int install_over_text(HWND main_window, const char *folder, HWND list_view,
                      install_report *report = nullptr);
// The announced size when the file was received, checked (when check is given) and
// installed; 0 on failure (*failure says why when given). An empty file that the catalogue
// expects empty is installed with result 0 and *failure INSTALL_OK.
int download_file_text(SOCKET s, const char *folder, const char *name, HWND progress,
                       const transfer_check *check = nullptr, int *failure = nullptr);
