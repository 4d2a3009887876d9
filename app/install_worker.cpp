#include "app/install_worker.h"

#include <cstring>

#include "app/app_state.h"
#include "app/completion_message.h"
#include "app/install_log.h"
#include "app/web_retrieval.h"
#include "catalogue/catalogue.h"
#include "catalogue/framed_install.h"
#include "catalogue/manifest_check.h"
#include "catalogue/text_install.h"
#include "catalogue/web_install.h"
#include "catalogue/web_library.h"
#include "res/resource.h"
#include "res/texts.h"

DWORD WINAPI install_worker(LPVOID parameter)
{
    HWND main_window = (HWND)parameter;
    EnableWindow(GetDlgItem(main_window, ID_DOWNLOAD_BUTTON), FALSE);
    HWND list_view = GetDlgItem(main_window, ID_LIBRARY_LIST);

    CreateDirectoryA(INSTALL_FOLDER_TEXT, nullptr);  // an existing folder is the normal case

    // A library its publisher's signature does not cover installs nothing; say why again.
    if (const char *refusal = signature_refusal_text()) {
        SetDlgItemTextA(main_window, ID_MESSAGE_LINE, refusal);
        InterlockedExchange(&g_worker_running, 0);
        EnableWindow(GetDlgItem(main_window, ID_DOWNLOAD_BUTTON), TRUE);
        PostMessageA(main_window, WM_WORKER_DONE, 0, 0);
        return 1;
    }

    rows_before_install before;
    remember_rows(list_view, &before);
    install_report report;
    memset(&report, 0, sizeof report);
    int installed = 0;
    if (web_library_in_force())
        installed = install_over_web(main_window, list_view, &report, log_web_note);
    else if (g_protocol_preference == PROTOCOL_TEXT)
        installed = install_over_text(main_window, list_view, &report);
    else if (main_window)
        installed = install_over_framed(main_window, list_view, &report);

    log_install_pass(list_view, &before, &report, installed, nullptr);

    char message[COMPLETION_MESSAGE_SIZE];
    if (format_completion_message(installed, &report, message, sizeof message))
        SetDlgItemTextA(main_window, ID_MESSAGE_LINE, message);
    else
        MessageBoxA(main_window, TEXT_NOTHING_TO_UPGRADE, "Pavoset.exe", MB_OK);

    // Done with the catalogue and the channel: Download, refresh and closing may go on.
    InterlockedExchange(&g_worker_running, 0);
    EnableWindow(GetDlgItem(main_window, ID_DOWNLOAD_BUTTON), TRUE);
    PostMessageA(main_window, WM_WORKER_DONE, 0, 0);
    return 1;
}
