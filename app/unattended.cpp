#include "app/unattended.h"

#include <winsock2.h>
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "app/catalogue_rows.h"
#include "app/command_line.h"
#include "app/console_output.h"
#include "app/control_characters.h"
#include "app/install_log.h"
#include "app/main_window.h"
#include "app/retrieval.h"
#include "app/run_log.h"
#include "app/server_resolution.h"
#include "app/web_retrieval.h"
#include "catalogue/catalogue.h"
#include "catalogue/framed_install.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "catalogue/manifest_check.h"
#include "catalogue/text_install.h"
#include "catalogue/web_install.h"
#include "catalogue/web_library.h"
#include "res/texts.h"

// The install passes work through the main window's controls (rows, progress, current
// file); an unattended run gives them the same dialog, created and never shown.
static INT_PTR CALLBACK hidden_window_proc(HWND, UINT message, WPARAM, LPARAM)
{
    (void)message;
    return FALSE;
}

static void echo(const char *line)
{
    console_line(line);
}

// Every row against the file now in the folder: Match or not, as a new refresh would show it.
static int all_rows_match_now(int rows)
{
    if (rows > g_catalogue_count)
        return 0;
    local_row now[CATALOGUE_MAX_ENTRIES];
    compare_catalogue_with_folder(g_catalogue, rows, now);
    for (int i = 0; i < rows; ++i)
        if (now[i].outcome != LOCAL_MATCH)
            return 0;
    return 1;
}

static int check_rows(HWND list)
{
    int pending = 0;
    int rows = list_row_count(list);
    for (int i = 0; i < rows; ++i) {
        char name[260], status[16], line[400];
        read_cell(list, i, COLUMN_NAME, name, sizeof name);
        read_cell(list, i, COLUMN_STATUS, status, sizeof status);
        // The tab separates the columns; one in the server's name must not pass for it.
        replace_control_characters(name, sizeof name);
        snprintf(line, sizeof line, "%s\t%s", status, name);
        console_line(line);
        if (strcmp(status, TEXT_STATUS_MATCH) != 0)
            ++pending;
    }
    char summary[160];
    snprintf(summary, sizeof summary, TEXT_CHECK_SUMMARY_FORMAT, rows, pending);
    console_line(summary);
    run_log("%s", summary);
    return pending ? EXIT_UPDATES_PENDING : EXIT_ALL_MATCH;
}

static int install_rows(HWND window, HWND list)
{
    rows_before_install before;
    remember_rows(list, &before);
    CreateDirectoryA(INSTALL_FOLDER_TEXT, nullptr);  // an existing folder is the normal case

    install_report report;
    memset(&report, 0, sizeof report);
    int installed = web_library_in_force() ? install_over_web(window, list, &report, log_web_note)
                    : g_protocol_preference == PROTOCOL_TEXT
                        ? install_over_text(window, list, &report)
                        : install_over_framed(window, list, &report);
    log_install_pass(list, &before, &report, installed, echo);

    // The outcome is the folder as it is now, not what the pass believes of itself.
    return all_rows_match_now(list_row_count(list)) ? EXIT_ALL_MATCH : EXIT_SOME_FAILED;
}

int run_unattended(int mode, const char *cmdline_host, const char *cmdline_url)
{
    int source = resolve_server_address(&g_server_address, cmdline_host);
    run_log(TEXT_LOG_SERVER_ADDRESS_FORMAT, g_server_address.host, (unsigned)g_server_address.port,
            address_source_text(source));
    take_library_url(cmdline_url);

    HWND window = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(MAIN_DIALOG_ID), nullptr,
                                     hidden_window_proc, 0);
    HWND list = window ? GetDlgItem(window, ID_LIBRARY_LIST) : nullptr;
    if (!list) {
        console_line(TEXT_CONSOLE_NO_WORK_WINDOW);
        run_log(TEXT_LOG_NO_WORK_WINDOW);
        if (window)
            DestroyWindow(window);
        return EXIT_NO_CATALOGUE;
    }
    setup_list_columns(list);
    g_quiet_install_failures = 1;
    g_receive_buffer = (char *)calloc(RECEIVE_BUFFER_SIZE, 1);

    retrieval_result result;
    retrieve_catalogue(&result, nullptr, nullptr, nullptr);
    int code;
    if (!result.ok && web_library_in_force()) {
        console_line(web_retrieval_line());
        code = EXIT_NO_CATALOGUE;
    } else if (!result.ok) {
        char line[200];
        snprintf(line, sizeof line, TEXT_CONSOLE_NO_CATALOGUE_FORMAT, g_server_address.host,
                 (unsigned)g_server_address.port);
        console_line(line);
        code = EXIT_NO_CATALOGUE;
    } else {
        // The retrieval settled the publisher's signature; the rows compare against it.
        if (web_library_in_force())
            console_line(web_retrieval_line());
        fill_catalogue_rows(list, result.rows);
        // A library its publisher's signature does not cover counts as no catalogue at all.
        if (const char *refusal = signature_refusal_text()) {
            console_line(refusal);
            run_log("%s", refusal);
            code = EXIT_NO_CATALOGUE;
        } else {
            code = mode == MODE_CHECK ? check_rows(list) : install_rows(window, list);
        }
    }

    release_retrieval_state(0);
    DestroyWindow(window);
    return code;
}
