// Finding the program's windows from outside its process.
#pragma once
#include <windows.h>
#include <string>

// The main window: a top-level dialog titled with the program's title, or failing that
// any dialog holding the library list (ID_LIBRARY_LIST) and the message line (ID_MESSAGE_LINE).
// A non-empty title_prefix overrides both rules (used to point the driver at other programs).
HWND find_main_window(const std::wstring &title_prefix);

// The server settings dialog: caption TEXT_SETTINGS_DIALOG_CAPTION, or a dialog holding the address
// control and the port field (res/resource.h).
HWND find_settings_dialog();

// A message box: a visible top-level dialog with the static text id 65535 that is
// neither the main window nor the settings dialog; caption filter when non-empty.
HWND find_message_box(const std::wstring &caption);

std::wstring window_text(HWND window);
std::wstring class_name(HWND window);
// The text of a message box (its 65535 static).
std::wstring message_box_text(HWND box);

// Sleeps in small steps until check() gives a window or timeout_ms passes.
template <typename Check> HWND wait_for_window(Check check, int timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = check();
        if (found)
            return found;
        if ((int)(GetTickCount() - start) >= timeout_ms)
            return nullptr;
        Sleep(50);
    }
}
