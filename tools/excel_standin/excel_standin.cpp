// Stands in for Excel in the end-to-end tests: records how it was started and exits.
// The full command line goes, as one UTF-8 line, to the file named by PAVOSET_EXCEL_LOG
// (a Windows path such as Z:\tmp\excel.txt; C:\excel-args.txt when unset).
#include <windows.h>

#include <string>

static std::string to_utf8(const wchar_t *text)
{
    int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1)
        return std::string();
    std::string out((size_t)needed, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], needed, nullptr, nullptr);
    out.resize((size_t)needed - 1);
    return out;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t log_path[MAX_PATH] = L"C:\\excel-args.txt";
    DWORD length = GetEnvironmentVariableW(L"PAVOSET_EXCEL_LOG", log_path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        lstrcpyW(log_path, L"C:\\excel-args.txt");

    std::string line = to_utf8(GetCommandLineW()) + "\n";
    // FILE_APPEND_DATA keeps lines from two starts apart even when they overlap.
    HANDLE file = CreateFileW(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == line.size() ? 0 : 1;
}
