// The main window: dialog 101 with the library list, Download, the message line and the
// settings menu.
#pragma once
#include <windows.h>

enum {
    MAIN_DIALOG_ID = 101,
    MAIN_ICON_ID = 102,
    ID_DOWNLOAD_BUTTON = 1,
    ID_LIBRARY_LIST = 1000,
    ID_PROGRESS_BAR = 1001,
    ID_FOLDER_TEXT = 1002,
    ID_CURRENT_FILE = 1003,
    ID_MESSAGE_LINE = 1004,
    ID_MENU_SERVER_SETTINGS = 1001,
    ID_MENU_VIEW_LOG = 1010,
    REFRESH_TIMER_ID = 1001,
    REFRESH_DELAY_MS = 100,
};

INT_PTR CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Replaces the list view's columns with the six of the library list.
void setup_list_columns(HWND list_view);
// Starts retrieving the catalogue (preferred protocol, then the other) on a thread of its
// own; the list is filled when it ends.
void refresh_catalogue(HWND window);
// Dispatches what is already waiting for the window; never waits.
void pump_pending_messages(HWND window);
