// The server settings dialog, built in memory: SETTINGS_APPLIED when Apply stored an address,
// SETTINGS_CLOSED when it was closed without. Its control ids are in res/resource.h.
#pragma once
#include <windows.h>

enum {
    SETTINGS_APPLIED = 1,
    SETTINGS_CLOSED = 2,
    SETTINGS_TEMPLATE_SIZE = 4096,
};

INT_PTR run_settings_dialog(HWND owner);

// In-memory dialog template writers. begin_dialog_template writes the header (no items yet)
// into a zeroed buffer of SETTINGS_TEMPLATE_SIZE bytes and returns the position after the
// font name; append_button_item adds one Button item and returns the position after it.
BYTE *begin_dialog_template(BYTE *buffer, short width, short height);
BYTE *append_button_item(BYTE *template_start, BYTE *position, const char *text, DWORD style,
                         WORD id);

// Width in pixels of text in the window's font; 0 without a device context.
int measure_text_width(HWND window, const char *text, int length);

INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
