#include "server/service_control.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "server/platform_files.h"
#include "server/server_log.h"
#include "server/server_run.h"
#include "server/win_text.h"

static const wchar_t SERVICE_NAME_W[] = L"" PAVOSET_SERVICE_NAME;
static const wchar_t SERVICE_DISPLAY_W[] = L"" PAVOSET_SERVICE_DISPLAY;

static int fail(const char *what)
{
    std::fprintf(stderr, "pavoset-server: %s: %s\n", what,
                 windows_error_text(GetLastError()).c_str());
    return 1;
}

// One argument as CommandLineToArgvW and the C runtime read it back.
static std::wstring quoted(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

static std::wstring absolute(const std::wstring &path)
{
    wchar_t buffer[4096];
    DWORD n = GetFullPathNameW(path.c_str(), 4096, buffer, nullptr);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : path;
}

int install_service(int argc, char **argv)
{
    // The arguments as the user typed them, in UTF-16 (argv is in the ANSI code page).
    int wargc = 0;
    LPWSTR *wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    if (!wargv || wargc != argc)
        return fail("cannot read the command line");
    wchar_t exe[MAX_PATH * 4];
    DWORD exe_length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    if (exe_length == 0 || exe_length >= MAX_PATH * 4)
        return fail("cannot find the program's own path");
    // The service starts in the system folder: every path it is given must be absolute.
    std::wstring command = quoted(exe) + L" --service";
    for (int i = 1; i < wargc; ++i) {
        std::wstring arg = wargv[i];
        if (arg == L"--install-service")
            continue;
        command += L" " + quoted(arg);
        if ((arg == L"--root" || arg == L"--port-file" || arg == L"--log-file") && i + 1 < wargc)
            command += L" " + quoted(absolute(wargv[++i]));
    }
    LocalFree(wargv);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return fail("cannot reach the service manager (run as administrator)");
    // Local Service: no rights beyond reading the library and writing its log.
    SC_HANDLE service = CreateServiceW(
        manager, SERVICE_NAME_W, SERVICE_DISPLAY_W, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
        L"NT AUTHORITY\\LocalService", L"");
    if (!service) {
        int status = fail("cannot register the service");
        CloseServiceHandle(manager);
        return status;
    }
    SERVICE_DESCRIPTIONW description;
    wchar_t text[] = L"Publishes a library folder to Pavoset clients.";
    description.lpDescription = text;
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    // Restart after a failure, as the Linux unit does.
    SC_ACTION restart[3] = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW actions = {};
    actions.dwResetPeriod = 86400;
    actions.cActions = 3;
    actions.lpsaActions = restart;
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    std::printf("registered service %s: %s\n", PAVOSET_SERVICE_NAME, narrow(command).c_str());
    return 0;
}

int uninstall_service()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return fail("cannot reach the service manager (run as administrator)");
    SC_HANDLE service =
        OpenServiceW(manager, SERVICE_NAME_W, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        int status = fail("no service " PAVOSET_SERVICE_NAME);
        CloseServiceHandle(manager);
        return status;
    }
    SERVICE_STATUS status = {};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        for (int i = 0; i < 100 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
            Sleep(100);
            if (!QueryServiceStatus(service, &status))
                break;
        }
    }
    int result = 0;
    if (!DeleteService(service))
        result = fail("cannot remove the service");
    else
        std::printf("removed service %s\n", PAVOSET_SERVICE_NAME);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

// ---------------------------------------------------------------- under the service manager
static server_options g_service_options;
static SERVICE_STATUS_HANDLE g_status_handle = nullptr;
static SERVICE_STATUS g_status = {};

static void report(DWORD state, DWORD exit_code = NO_ERROR, DWORD wait_hint = 0)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = exit_code ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    g_status.dwServiceSpecificExitCode = exit_code;
    g_status.dwWaitHint = wait_hint;
    ++g_status.dwCheckPoint;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        g_status.dwCheckPoint = 0;
    SetServiceStatus(g_status_handle, &g_status);
}

static DWORD WINAPI service_control(DWORD control, DWORD, void *, void *)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING, NO_ERROR, 5000);
        log_line(LOG_INFO, "service manager asks to stop");
        request_server_stop();
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

// %ProgramData%\Pavoset\pavoset-server.log, unless --log-file names another.
static std::string service_log_path()
{
    if (!g_service_options.log_file.empty())
        return g_service_options.log_file;
    wchar_t data[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
    std::string base =
        n > 0 && n < MAX_PATH ? narrow(std::wstring(data, n)) : std::string("C:\\ProgramData");
    std::string folder = base + "\\Pavoset";
    make_folder(folder);
    return folder + "\\pavoset-server.log";
}

static void WINAPI service_main(DWORD, LPWSTR *)
{
    g_status_handle = RegisterServiceCtrlHandlerExW(SERVICE_NAME_W, service_control, nullptr);
    if (!g_status_handle)
        return;
    report(SERVICE_START_PENDING, NO_ERROR, 10000);
    std::string log_path = service_log_path();
    set_log_file(log_path);
    log_line(LOG_INFO, "service starting, log in %s", log_path.c_str());
    std::string error;
    int status = run_server(g_service_options, &error, [] { report(SERVICE_RUNNING); });
    if (status != 0)
        log_line(LOG_ERROR, "%s", error.c_str());
    log_line(LOG_INFO, "service stopped (status %d)", status);
    report(SERVICE_STOPPED, static_cast<DWORD>(status));
}

int run_as_service(const server_options &options)
{
    g_service_options = options;
    wchar_t name[sizeof SERVICE_NAME_W / sizeof(wchar_t)];
    std::memcpy(name, SERVICE_NAME_W, sizeof name);
    SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            std::fprintf(stderr, "pavoset-server: --service is given by the service manager; "
                                 "run without it in a console\n");
            return 2;
        }
        return fail("service dispatcher");
    }
    return 0;
}
