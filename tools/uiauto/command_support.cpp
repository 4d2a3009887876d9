#include "command_support.h"

#include "utf8_text.h"

static const char USAGE[] =
    "usage: uiauto [--timeout MS] [--caption TEXT] [--title PREFIX] [--post] COMMAND ...\n"
    "  main window: wait-window | title | pid | rows [LIST_ID] | row-count [LIST_ID]\n"
    "               wait-rows N | text ID | enabled ID | click ID | menu ID | close\n"
    "               wait-text ID SUBSTRING | wait-enabled ID | wait-gone | ping [MS]\n"
    "  message box: wait-msgbox | answer-msgbox yes|no|ok|cancel | expect-no-msgbox\n"
    "  settings:    dlg-find | dlg-text ID | dlg-set-text ID TEXT | dlg-check ID 0|1\n"
    "               dlg-checked ID | dlg-click ID | dlg-enabled ID | dlg-key ID KEY\n"
    "               dlg-close | dlg-gone | ip-get | ip-fields | ip-set A.B.C.D | ip-clear\n"
    "               ip-blank\n";

int fail(const std::string &message, int code)
{
    write_err("uiauto: " + message + "\n");
    return code;
}

void print_line(const std::wstring &text)
{
    write_out(to_utf8(text) + "\n");
}

bool parse_int(const std::wstring &text, long &value)
{
    if (text.empty())
        return false;
    wchar_t *end = nullptr;
    value = wcstol(text.c_str(), &end, 10);
    return end && *end == 0;
}

int usage_error()
{
    return fail(USAGE, EXIT_USAGE);
}

LRESULT send_or(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT fallback)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                             &result))
        return fallback;
    return (LRESULT)result;
}

// A click as the control's parent sees it; a disabled control cannot be clicked by a user,
// so the driver refuses too.
int click(HWND control)
{
    if (!IsWindowEnabled(control))
        return fail("the control is disabled");
    int id = GetDlgCtrlID(control);
    PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
    return EXIT_OK;
}

int wait_until(const options &opts, bool (*check)(HWND, const std::wstring &), HWND window,
               const std::wstring &what, const char *failure)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (check(window, what))
            return EXIT_OK;
        if ((int)(GetTickCount() - start) >= opts.timeout_ms)
            return fail(failure, EXIT_TIMEOUT);
        Sleep(100);
    }
}

int parse_options(int argc, wchar_t **argv, options &opts)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == L"--timeout" && has_value) {
            long value = 0;
            if (!parse_int(argv[++i], value) || value < 0)
                return false;
            opts.timeout_ms = (int)value;
        } else if (arg == L"--caption" && has_value) {
            opts.caption = argv[++i];
        } else if (arg == L"--title" && has_value) {
            opts.title = argv[++i];
        } else if (arg == L"--post") {
            opts.post_keys = true;
        } else {
            opts.args.push_back(arg);
        }
    }
    return opts.args.empty() ? 0 : 1;
}
