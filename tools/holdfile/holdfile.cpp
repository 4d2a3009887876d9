// holdfile PATH [--until STOPFILE] [--timeout MS]
// Opens PATH with no sharing at all, as a program that has the file open would, prints
// "held" and keeps it open until STOPFILE exists or the time-out (default 60000 ms) passes.
#include <windows.h>

#include <cwchar>

static void say(const char *text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

int wmain(int argc, wchar_t **argv)
{
    const wchar_t *path = nullptr;
    const wchar_t *stop_file = nullptr;
    DWORD timeout_ms = 60000;
    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--until") && i + 1 < argc)
            stop_file = argv[++i];
        else if (!wcscmp(argv[i], L"--timeout") && i + 1 < argc)
            timeout_ms = wcstoul(argv[++i], nullptr, 10);
        else
            path = argv[i];
    }
    if (!path) {
        say("usage: holdfile PATH [--until STOPFILE] [--timeout MS]\n");
        return 2;
    }
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        say("cannot open\n");
        return 1;
    }
    say("held\n");
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout_ms) {
        if (stop_file && GetFileAttributesW(stop_file) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    CloseHandle(file);
    return 0;
}
