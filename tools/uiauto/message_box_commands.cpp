// Commands on message boxes: wait for one and read it, answer it, or make sure none comes.
#include <windows.h>

#include "command_support.h"
#include "utf8_text.h"
#include "window_search.h"

int message_box_command(const options &opts, const std::wstring &command)
{
    auto find_box = [&] { return find_message_box(opts.caption); };
    if (command == L"expect-no-msgbox") {
        HWND box = wait_for_window(find_box, opts.timeout_ms);
        if (!box)
            return EXIT_OK;
        write_out(to_utf8(window_text(box)) + "\n" + to_utf8(message_box_text(box)) + "\n");
        return fail("a message box appeared");
    }
    HWND box = wait_for_window(find_box, opts.timeout_ms);
    if (!box)
        return fail("no message box", EXIT_TIMEOUT);
    if (command == L"wait-msgbox") {
        std::wstring text = message_box_text(box);
        std::wstring flat;
        for (wchar_t c : text)
            if (c != L'\r')
                flat += c;
        print_line(window_text(box));
        print_line(flat);
        return EXIT_OK;
    }
    // answer-msgbox
    if (opts.args.size() < 2)
        return usage_error();
    const std::wstring &answer = opts.args[1];
    int id = answer == L"yes"      ? IDYES
             : answer == L"no"     ? IDNO
             : answer == L"ok"     ? IDOK
             : answer == L"cancel" ? IDCANCEL
                                   : 0;
    if (!id)
        return usage_error();
    HWND button = GetDlgItem(box, id);
    if (!button)
        return fail("the message box has no such button");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    DWORD start = GetTickCount();
    while (IsWindow(box)) {
        if ((int)(GetTickCount() - start) >= opts.timeout_ms)
            return fail("the message box stayed", EXIT_TIMEOUT);
        Sleep(50);
    }
    return EXIT_OK;
}
