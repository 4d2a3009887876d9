// The server settings dialog, built in memory. 1 when applied, 2 when closed.
#pragma once
#include <windows.h>

INT_PTR run_settings_dialog(HWND owner);
