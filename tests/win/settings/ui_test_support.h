// Real input, message pumping and screenshots for the settings UI tests.
#pragma once
#include <windows.h>
#include <string>

// Dispatches this thread's messages for about ms milliseconds.
void pump_messages(int ms);
// One key press through the system input queue (down and up), as a user would type it.
void press_key(WORD virtual_key);
// Polls until a top-level window of the class with the caption exists; NULL on time-out.
HWND wait_for_window(const char *class_name, const char *caption, int ms);
// Polls until window is gone; false on time-out.
bool wait_for_close(HWND window, int ms);
std::string window_text(HWND window);

// Writes the window's client area as on screen, a 24-bit BMP, into $PAVOSET_ARTIFACTS if set.
void save_window_image(HWND window, const char *file_name);
