// The main window: dialog 101 with the library list, Download, the message line and the
// settings menu.
#pragma once
#include <windows.h>
#include "res/resource.h"

enum { REFRESH_DELAY_MS = 100 };

INT_PTR CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Replaces the list view's columns with the six of the library list.
void setup_list_columns(HWND list_view);
// Starts retrieving the catalogue (preferred protocol, then the other) on a thread of its
// own; the list is filled when it ends.
void refresh_catalogue(HWND window);
// Dispatches what is already waiting for the window; never waits.
void pump_pending_messages(HWND window);
