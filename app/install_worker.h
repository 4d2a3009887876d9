// The thread that installs the listed library files when Download is pressed.
#pragma once
#include <windows.h>

// Thread entry; parameter: the main window. Returns 1. Posts WM_WORKER_DONE to the main
// window as its last act, after which it touches nothing the UI thread owns.
DWORD WINAPI install_worker(LPVOID main_window);
