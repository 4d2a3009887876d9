// What every uiauto command shares: options, output, failure codes, small message helpers.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_TIMEOUT = 3 };

// Waits for a program that is busy (its refresh blocks the user-interface thread).
const UINT SEND_TIMEOUT_MS = 3000;

struct options {
    int timeout_ms = 10000;
    std::wstring caption;    // message box caption filter
    std::wstring title;      // main window title prefix override
    bool post_keys = false;  // keys as posted messages instead of real input
    std::vector<std::wstring> args;
};

int fail(const std::string &message, int code = EXIT_FAILED);
int usage_error();
void print_line(const std::wstring &text);
bool parse_int(const std::wstring &text, long &value);

// SendMessageTimeout's result, or fallback when the program did not answer in time.
LRESULT send_or(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT fallback);

// A click as the control's parent sees it; refused for a disabled control.
int click(HWND control);

// Polls check(window, what) every 100 ms until it holds or the time-out passes.
int wait_until(const options &opts, bool (*check)(HWND, const std::wstring &), HWND window,
               const std::wstring &what, const char *failure);

int parse_options(int argc, wchar_t **argv, options &opts);

int main_window_command(const options &opts, const std::wstring &command);
int message_box_command(const options &opts, const std::wstring &command);
int settings_command(const options &opts, const std::wstring &command);
// install-lock-free: exit 0 when another process could take the install lock now.
int install_lock_command(const options &opts);
