// Commands on the main window: finding it, reading the list and its controls, clicks, the
// menu command and closing.
#include <windows.h>

#include "command_support.h"
#include "remote_memory.h"
#include "utf8_text.h"
#include "window_search.h"

#include "res/resource.h"

namespace {

// The window that holds the control a command names, waited for up to the time-out.
HWND wait_main(const options &opts)
{
    return wait_for_window([&] { return find_main_window(opts.title); }, opts.timeout_ms);
}

BOOL CALLBACK first_list_view(HWND child, LPARAM param)
{
    if (_wcsicmp(class_name(child).c_str(), L"SysListView32") != 0)
        return TRUE;
    *reinterpret_cast<HWND *>(param) = child;
    return FALSE;
}

HWND find_list(HWND main, long id)
{
    if (id != 0)
        return GetDlgItem(main, (int)id);
    // Id 0: the first list view anywhere inside, for programs whose ids we do not know.
    HWND found = nullptr;
    EnumChildWindows(main, first_list_view, reinterpret_cast<LPARAM>(&found));
    return found;
}

int print_rows(HWND list)
{
    std::vector<std::vector<std::wstring>> rows;
    if (!read_list_rows(list, rows))
        return fail("the list did not answer");
    for (const auto &row : rows) {
        std::wstring line;
        for (size_t i = 0; i < row.size(); ++i) {
            if (i)
                line += L'\t';
            line += row[i];
        }
        print_line(line);
    }
    return EXIT_OK;
}

}  // namespace

int main_window_command(const options &opts, const std::wstring &command)
{
    const std::vector<std::wstring> &a = opts.args;
    if (command == L"wait-gone") {
        DWORD start = GetTickCount();
        while (find_main_window(opts.title)) {
            if ((int)(GetTickCount() - start) >= opts.timeout_ms)
                return fail("the main window is still open", EXIT_TIMEOUT);
            Sleep(100);
        }
        return EXIT_OK;
    }
    HWND main = wait_main(opts);
    if (!main)
        return fail("main window not found", EXIT_TIMEOUT);
    if (command == L"wait-window" || command == L"title") {
        wchar_t title[512] = {0};
        GetWindowTextW(main, title, 512);
        print_line(title);
        return EXIT_OK;
    }
    if (command == L"pid") {
        DWORD pid = 0;
        GetWindowThreadProcessId(main, &pid);
        write_out(std::to_string(pid) + "\n");
        return EXIT_OK;
    }
    if (command == L"ping") {
        // Whether the window answers a message within LIMIT ms (default 1000); prints the
        // milliseconds it took, or the limit when it did not answer.
        long limit = 1000;
        if (a.size() > 1 && !parse_int(a[1], limit))
            return usage_error();
        DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        LRESULT answered =
            SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, (UINT)limit, &result);
        write_out(std::to_string(GetTickCount() - start) + "\n");
        return answered ? EXIT_OK : fail("the window did not answer", EXIT_TIMEOUT);
    }
    if (command == L"close") {
        PostMessageW(main, WM_CLOSE, 0, 0);
        return EXIT_OK;
    }
    long id = ID_LIBRARY_LIST;
    if (command == L"rows" || command == L"row-count") {
        if (a.size() > 1 && !parse_int(a[1], id))
            return usage_error();
        HWND list = find_list(main, id);
        if (!list)
            return fail("no list view");
        if (command == L"rows")
            return print_rows(list);
        int count = list_row_count(list);
        if (count < 0)
            return fail("the list did not answer");
        write_out(std::to_string(count) + "\n");
        return EXIT_OK;
    }
    if (a.size() < 2 || !parse_int(a[1], id))
        return usage_error();
    if (command == L"menu") {
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        return EXIT_OK;
    }
    if (command == L"wait-rows") {
        DWORD start = GetTickCount();
        HWND list = find_list(main, ID_LIBRARY_LIST);
        while (!list || list_row_count(list) < id) {
            if ((int)(GetTickCount() - start) >= opts.timeout_ms)
                return fail("too few rows", EXIT_TIMEOUT);
            Sleep(100);
        }
        return EXIT_OK;
    }
    HWND control = GetDlgItem(main, (int)id);
    if (!control)
        return fail("no control with that id");
    if (command == L"text") {
        print_line(window_text(control));
        return EXIT_OK;
    }
    if (command == L"enabled") {
        write_out(IsWindowEnabled(control) ? "1\n" : "0\n");
        return EXIT_OK;
    }
    if (command == L"click")
        return click(control);
    if (command == L"wait-enabled")
        return wait_until(
            opts, [](HWND w, const std::wstring &) { return IsWindowEnabled(w) != 0; }, control,
            L"", "the control stayed disabled");
    if (command == L"wait-text") {
        if (a.size() < 3)
            return usage_error();
        int code = wait_until(
            opts,
            [](HWND w, const std::wstring &part) {
                return window_text(w).find(part) != std::wstring::npos;
            },
            control, a[2], "the text did not appear");
        if (code != EXIT_OK)
            print_line(window_text(control));
        return code;
    }
    return usage_error();
}
