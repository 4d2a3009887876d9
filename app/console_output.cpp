#include "app/console_output.h"

#include <windows.h>
#include <cstdlib>
#include <cstring>

#include "app/control_characters.h"

static HANDLE g_out = nullptr;
static int g_own_handle = 0;

void console_open()
{
    // A redirected standard output (a file, a pipe) is what the caller asked for; a GUI
    // program only gets one when it was redirected.
    HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    if (inherited && inherited != INVALID_HANDLE_VALUE &&
        GetFileType(inherited) != FILE_TYPE_UNKNOWN) {
        g_out = inherited;
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    HANDLE console =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
        g_out = console;
        g_own_handle = 1;
    }
}

static void write_line(const char *text)
{
    DWORD written = 0;
    if (g_own_handle) {
        // A console shows characters, whatever its code page: the Korean stays readable
        // on a console set to another one.
        wchar_t wide[1024];
        int length = MultiByteToWideChar(949, 0, text, -1, wide, 1022);
        if (length > 0) {
            wide[length - 1] = L'\r';
            wide[length] = L'\n';
            WriteConsoleW(g_out, wide, (DWORD)length + 1, &written, nullptr);
            return;
        }
    }
    WriteFile(g_out, text, (DWORD)strlen(text), &written, nullptr);
    WriteFile(g_out, "\r\n", 2, &written, nullptr);
}

// Server-given names and sizes reach the console in these lines: their control characters
// are replaced, bar the tab that separates our own columns (a name with a tab of its own is
// cleaned by its caller).
void console_line(const char *text)
{
    if (!g_out || !text)
        return;
    size_t length = strlen(text);
    char *line = (char *)malloc(length + 1);
    if (!line)
        return;
    memcpy(line, text, length + 1);
    replace_control_characters(line, length, '\t');
    write_line(line);
    free(line);
}

void console_close()
{
    if (g_own_handle && g_out)
        CloseHandle(g_out);
    g_out = nullptr;
    g_own_handle = 0;
}
