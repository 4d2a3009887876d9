// uiauto: drives Pavoset's windows from a second process, for the end-to-end scripts.
// Prints results in UTF-8; exit 0 on success, 1 on failure, 2 on bad usage, 3 on time-out.
#include <windows.h>

#include "command_support.h"

int wmain(int argc, wchar_t **argv)
{
    options opts;
    if (!parse_options(argc, argv, opts))
        return usage_error();
    const std::wstring &command = opts.args[0];
    if (command == L"install-lock-free")
        return install_lock_command(opts);
    if (command.find(L"msgbox") != std::wstring::npos)
        return message_box_command(opts, command);
    if (command.compare(0, 4, L"dlg-") == 0 || command.compare(0, 3, L"ip-") == 0)
        return settings_command(opts, command);
    return main_window_command(opts, command);
}
