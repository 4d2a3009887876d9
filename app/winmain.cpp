// Process entry: the few process-wide resources, the command line, and then either the
// main window as a modal dialog whose loop is the program's loop, or an unattended run.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/background_retrieval.h"
#include "app/command_line.h"
#include "app/console_output.h"
#include "app/instance_guard.h"
#include "app/ip_option.h"
#include "app/logon_task.h"
#include "app/main_window.h"
#include "app/run_log.h"
#include "app/scheduled_run.h"
#include "app/unattended.h"
#include "pavoset_version.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_steps.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "res/texts.h"


// A closed window ends the program even while an abandoned retrieval waits on the server.
enum { RETRIEVAL_END_WAIT_MS = 250 };

static const char *mode_name(int mode)
{
    switch (mode) {
    case MODE_INSTALL:
        return "-install";
    case MODE_CHECK:
        return "-check";
    case MODE_REGISTER_TASK:
        return "-register-task";
    case MODE_REMOVE_TASK:
        return "-remove-task";
    default:
        return TEXT_MODE_WINDOW;
    }
}

static int run_window(HINSTANCE instance, const char *text, const command_line *options)
{
    const char *unknown = options->unknown;
    if (unknown[0]) {
        char text[2048];
        snprintf(text, sizeof text, TEXT_UNKNOWN_OPTION_FORMAT, unknown, USAGE_TEXT);
        MessageBoxA(nullptr, text, "Pavoset.exe", MB_OK | MB_ICONWARNING);
    }
    switch (read_window_ip_option(text, options, g_cmdline_host, SERVER_HOST_SIZE)) {
    case IP_OPTION_STORED:
        memcpy(g_server_address.host, g_cmdline_host, SERVER_HOST_SIZE);
        g_cmdline_address_flag = 1;
        break;
    case IP_OPTION_TOO_LONG:
        MessageBoxA(nullptr, TEXT_HOST_TOO_LONG, "Pavoset.exe", MB_OK | MB_ICONWARNING);
        break;
    default:
        break;
    }
    DialogBoxParamA(instance, MAKEINTRESOURCEA(MAIN_DIALOG_ID), nullptr, main_window_proc, 0);
    return 0;
}

// The installer package's request: the logon task registered or removed.
static int run_task_mode(int mode)
{
    int registering = mode == MODE_REGISTER_TASK;
    int status = registering ? register_logon_task() : remove_logon_task();
    char line[200];
    snprintf(line, sizeof line, TEXT_LOG_TASK_FORMAT, LOGON_TASK_NAME,
             registering ? TEXT_TASK_REGISTERED : TEXT_TASK_REMOVED,
             status == 0 ? TEXT_TASK_DONE : TEXT_TASK_FAILED, status);
    console_line(line);
    run_log("%s", line);
    return status == 0 ? EXIT_ALL_MATCH : EXIT_TASK_FAILED;
}

static int run_without_window(const command_line *options, int first_instance)
{
    // The logon task while the policy has it off: nothing to do, nothing to say but the log.
    if (options->scheduled && !scheduled_install_allowed()) {
        run_log(TEXT_LOG_SCHEDULED_OFF);
        return EXIT_ALL_MATCH;
    }
    console_open();
    int code;
    if (options->unknown[0] || options->host_too_long || options->url_too_long) {
        char line[OPTION_TEXT_SIZE + 96];
        if (options->host_too_long)
            snprintf(line, sizeof line, TEXT_CONSOLE_HOST_TOO_LONG);
        else if (options->url_too_long)
            snprintf(line, sizeof line, TEXT_CONSOLE_URL_TOO_LONG);
        else
            snprintf(line, sizeof line, TEXT_CONSOLE_UNKNOWN_OPTION_FORMAT, options->unknown);
        console_line(line);
        run_log("%s", line);
        code = EXIT_BAD_OPTION;
    } else if (options->mode == MODE_INSTALL && !first_instance) {
        console_line(TEXT_CONSOLE_ALREADY_RUNNING);
        run_log(TEXT_LOG_ALREADY_RUNNING);
        code = EXIT_ALREADY_RUNNING;
    } else if (options->mode == MODE_REGISTER_TASK || options->mode == MODE_REMOVE_TASK) {
        code = run_task_mode(options->mode);
    } else {
        code = run_unattended(options->mode, options->host_given ? options->host : nullptr,
                              options->url_given ? options->url : nullptr);
    }
    char summary[64];
    snprintf(summary, sizeof summary, TEXT_CONSOLE_EXIT_CODE_FORMAT, code);
    console_line(summary);
    console_close();
    return code;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line_text, int)
{
    int first_instance = take_instance_guard();
    g_socket_mutex = CreateMutexA(nullptr, FALSE, nullptr);

    WSADATA winsock;
    if (WSAStartup(0x0101, &winsock) != 0) {
        if (g_socket_mutex) {
            WaitForSingleObject(g_socket_mutex, INFINITE);
            ReleaseMutex(g_socket_mutex);
        }
        WSACleanup();
        return -1;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_instance = instance;

    command_line options;
    parse_command_line(command_line_text, &options);

    // A run killed mid-install left its staging files; none is ours to keep unless another
    // instance is installing right now. Not in the task modes: the installer package runs
    // them as SYSTEM, and the folder is writable by every account of the PC, so they touch no
    // file of it.
    if (options.mode != MODE_REGISTER_TASK && options.mode != MODE_REMOVE_TASK &&
        options.mode != MODE_HELP)
        release_install_lock(begin_install_pass());
    int code = 0;
    if (options.mode == MODE_HELP) {
        MessageBoxA(nullptr, USAGE_TEXT, "Pavoset.exe", MB_OK | MB_ICONINFORMATION);
    } else {
        run_log(TEXT_LOG_START_FORMAT, PAVOSET_FILE_VERSION_TEXT, mode_name(options.mode),
                first_instance ? "" : TEXT_LOG_OTHER_INSTANCE);
        if (options.mode == MODE_WINDOW && options.url_too_long)
            MessageBoxA(nullptr, TEXT_CONSOLE_URL_TOO_LONG, "Pavoset.exe", MB_OK | MB_ICONWARNING);
        if (options.mode == MODE_WINDOW && options.url_given)
            memcpy(g_cmdline_url, options.url, sizeof g_cmdline_url);
        if (options.mode == MODE_WINDOW)
            code = run_window(instance, command_line_text ? command_line_text : "", &options);
        else
            code = run_without_window(&options, first_instance);
        run_log(TEXT_LOG_END_FORMAT, code);
    }

    // An abandoned retrieval ends by itself within a try; the process need not wait longer.
    int retrieval_ended = wait_for_retrieval_end(RETRIEVAL_END_WAIT_MS);
    if (retrieval_ended)
        WSACleanup();
    if (g_socket_mutex)
        CloseHandle(g_socket_mutex);
    release_instance_guard();
    return code;
}
