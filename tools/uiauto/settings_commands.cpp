// Commands on the server settings dialog and its four-field address control.
#include <windows.h>

#include "command_support.h"
#include "key_input.h"
#include "remote_memory.h"
#include "res/resource.h"
#include "utf8_text.h"
#include "window_search.h"

namespace {

const UINT IPM_CLEARADDRESS_MESSAGE = WM_USER + 100;
const UINT IPM_ISBLANK_MESSAGE = WM_USER + 105;
const int IP_CONTROL_ID = SETTINGS_ADDRESS_ID;

HWND wait_settings(const options &opts)
{
    return wait_for_window([] { return find_settings_dialog(); }, opts.timeout_ms);
}

int set_check(HWND box, bool wanted)
{
    auto checked = [&] { return send_or(box, BM_GETCHECK, 0, 0, -1) == BST_CHECKED; };
    if (checked() == wanted)
        return EXIT_OK;
    if (!IsWindowEnabled(box))
        return fail("the check box is disabled");
    // BM_CLICK lets the box toggle itself and notify its parent, as a mouse click would.
    PostMessageW(box, BM_CLICK, 0, 0);
    for (int i = 0; i < 40; ++i) {
        if (checked() == wanted)
            return EXIT_OK;
        Sleep(50);
    }
    return fail("the check box did not change");
}

WORD parse_key(const std::wstring &name)
{
    if (_wcsicmp(name.c_str(), L"RETURN") == 0 || _wcsicmp(name.c_str(), L"ENTER") == 0)
        return VK_RETURN;
    if (_wcsicmp(name.c_str(), L"ESCAPE") == 0 || _wcsicmp(name.c_str(), L"ESC") == 0)
        return VK_ESCAPE;
    if (_wcsicmp(name.c_str(), L"TAB") == 0)
        return VK_TAB;
    long value = 0;
    if (parse_int(name, value) && value > 0 && value < 256)
        return (WORD)value;
    return 0;
}

HWND ip_field(HWND dialog, int index)
{
    HWND control = GetDlgItem(dialog, IP_CONTROL_ID);
    return control ? GetDlgItem(control, IP_FIELD_ID_BASE + index) : nullptr;
}

std::vector<std::wstring> split_dots(const std::wstring &text)
{
    std::vector<std::wstring> parts(1);
    for (wchar_t c : text) {
        if (c == L'.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

}  // namespace

int settings_command(const options &opts, const std::wstring &command)
{
    const std::vector<std::wstring> &a = opts.args;
    if (command == L"dlg-gone") {
        DWORD start = GetTickCount();
        while (find_settings_dialog()) {
            if ((int)(GetTickCount() - start) >= opts.timeout_ms)
                return fail("the settings dialog is still open", EXIT_TIMEOUT);
            Sleep(100);
        }
        return EXIT_OK;
    }
    HWND dialog = wait_settings(opts);
    if (!dialog)
        return fail("settings dialog not found", EXIT_TIMEOUT);
    if (command == L"dlg-find") {
        print_line(window_text(dialog));
        return EXIT_OK;
    }
    if (command == L"dlg-close") {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return EXIT_OK;
    }
    if (command == L"ip-get") {
        unsigned long address = 0;
        HWND control = GetDlgItem(dialog, IP_CONTROL_ID);
        if (!control || !read_ip_address(control, address))
            return fail("no address answer");
        char text[32];
        wsprintfA(text, "%lu.%lu.%lu.%lu\n", (address >> 24) & 255, (address >> 16) & 255,
                  (address >> 8) & 255, address & 255);
        write_out(text);
        return EXIT_OK;
    }
    if (command == L"ip-fields") {
        std::wstring joined;
        for (int i = 0; i < 4; ++i) {
            HWND field = ip_field(dialog, i);
            if (!field)
                return fail("no address field");
            if (i)
                joined += L'.';
            joined += window_text(field);
        }
        print_line(joined);
        return EXIT_OK;
    }
    if (command == L"ip-clear" || command == L"ip-blank") {
        HWND control = GetDlgItem(dialog, IP_CONTROL_ID);
        if (!control)
            return fail("no address control");
        if (command == L"ip-clear") {
            send_or(control, IPM_CLEARADDRESS_MESSAGE, 0, 0, 0);
            return EXIT_OK;
        }
        write_out(std::to_string((long)send_or(control, IPM_ISBLANK_MESSAGE, 0, 0, -1)) + "\n");
        return EXIT_OK;
    }
    if (command == L"ip-set") {
        // Field by field, so that empty fields can be left empty ("10...1").
        if (a.size() < 2)
            return usage_error();
        std::vector<std::wstring> parts = split_dots(a[1]);
        if (parts.size() != 4)
            return fail("the address needs four fields");
        for (int i = 0; i < 4; ++i) {
            HWND field = ip_field(dialog, i);
            if (!field)
                return fail("no address field");
            send_or(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(parts[i].c_str()), 0);
        }
        return EXIT_OK;
    }
    long id = 0;
    if (a.size() < 2 || !parse_int(a[1], id))
        return usage_error();
    HWND control = GetDlgItem(dialog, (int)id);
    if (!control)
        return fail("no control with that id");
    if (command == L"dlg-text") {
        print_line(window_text(control));
        return EXIT_OK;
    }
    if (command == L"dlg-enabled") {
        write_out(IsWindowEnabled(control) ? "1\n" : "0\n");
        return EXIT_OK;
    }
    if (command == L"dlg-checked") {
        write_out(send_or(control, BM_GETCHECK, 0, 0, -1) == BST_CHECKED ? "1\n" : "0\n");
        return EXIT_OK;
    }
    if (command == L"dlg-click")
        return click(control);
    if (a.size() < 3)
        return usage_error();
    if (command == L"dlg-set-text") {
        send_or(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()), 0);
        return EXIT_OK;
    }
    if (command == L"dlg-check")
        return set_check(control, a[2] == L"1");
    if (command == L"dlg-key") {
        WORD key = parse_key(a[2]);
        if (!key)
            return fail("unknown key", EXIT_USAGE);
        if (!opts.post_keys && press_key_in(control, key))
            return EXIT_OK;
        if (!opts.post_keys)
            write_err("uiauto: the focus could not be moved; posting the key\n");
        post_key_to(control, key);
        return EXIT_OK;
    }
    return usage_error();
}
