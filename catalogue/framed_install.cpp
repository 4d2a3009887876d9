#include "catalogue/framed_install.h"
#include <winsock2.h>
#include <cstdio>
#include <cstring>
#include "catalogue/catalogue.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_steps.h"
#include "catalogue/ledger.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "catalogue/manifest_check.h"
#include "core/library_name.h"
#include "net/framed/framed_session.h"
#include "net/framed/framed_transfer.h"
#include "net/framed/staged_file.h"
#include "res/texts.h"

enum { FRAMED_CHUNK_SIZE = 1024 };

int g_quiet_install_failures = 0;

// The failed files' boxes wait for the end of the pass: a box left open must not keep the
// install lock from every other session and every scheduled run.
struct failed_files {
    int count;
    char names[INSTALL_REPORT_MAX][260];
};

static void note_failure(failed_files *failed, const char *name)
{
    if (g_quiet_install_failures || failed->count >= INSTALL_REPORT_MAX)
        return;
    lstrcpynA(failed->names[failed->count++], name, sizeof failed->names[0]);
}

static void show_failures(HWND main_window, const failed_files *failed)
{
    for (int i = 0; i < failed->count; ++i) {
        char text[400];
        snprintf(text, sizeof text, TEXT_DOWNLOAD_FAILED_FORMAT, failed->names[i]);
        MessageBoxA(main_window, text, TEXT_DOWNLOAD_FAILED_CAPTION, MB_OK);
    }
}

int install_over_framed(HWND main_window, HWND list_view, install_report *report)
{
    int rows = 0;
    HANDLE lock = begin_pass_over_rows(main_window, list_view, report, &rows);
    if (!lock)
        return 0;
    framed_session *session = g_framed_session;
    int port = session ? request_port(session) : 0;
    int installed = 0;
    failed_files failed;
    failed.count = 0;
    char name[260];
    for (int row = 0; (row = next_waiting_row(list_view, row, rows, name, sizeof name)) >= 0;
         ++row) {
        SetDlgItemTextA(main_window, ID_CURRENT_FILE, name);

        int failure = INSTALL_OK;
        int result = 0;
        if (!library_name_is_safe(name)) {
            failure = INSTALL_BAD_NAME;
        } else if ((failure = signed_file_refusal(entry_for_row(row), name)) != INSTALL_OK) {
            // not vouched for by the publisher's manifest: never downloaded
        } else if (!session || port <= 0) {
            failure = INSTALL_NO_CONNECTION;
        } else {
            transfer_check check;
            make_transfer_check(entry_for_row(row), name, &check);
            result = download_file_framed(name, &session->server, port, FRAMED_CHUNK_SIZE, &check,
                                          &failure);
            if (result <= 0 && failure == INSTALL_OK)
                failure = result < 0 ? INSTALL_NO_CONNECTION : INSTALL_LOCAL_ERROR;
        }
        if (result <= 0) {
            report_failure(report, name, failure);
            note_failure(&failed, name);
            continue;
        }
        ++installed;
        record_installed_row(list_view, report, row, name, nullptr);
    }
    write_ledger(list_view);
    release_install_lock(lock);
    show_failures(main_window, &failed);
    return installed;
}
