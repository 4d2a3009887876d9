// Installation over the framed channel.
#pragma once
#include <windows.h>
#include "catalogue/install_report.h"

int install_over_framed(HWND main_window, const char *folder, HWND list_view,
                        install_report *report = nullptr);
