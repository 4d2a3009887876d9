#include "server/platform_process.h"

#include <windows.h>
#include <shellapi.h>

#include <mutex>

#include "server/server_log.h"
#include "server/win_text.h"

std::vector<std::string> utf8_arguments(int argc, char **argv)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count != argc) {
        if (wide)
            LocalFree(wide);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(narrow(wide[i]));
    LocalFree(wide);
    return args;
}

void ignore_broken_pipe()
{
    // Windows reports a closed connection as an error code; there is no signal to ignore.
}

void raise_descriptor_limit()
{
    // Sockets are not bound by the C runtime's descriptor table on Windows.
}

// The console control handler runs on a thread of its own: it only posts to the io_context.
static std::mutex g_watch_lock;
static asio::io_context *g_watch_io = nullptr;
static std::function<void()> g_watch_stop;
static HANDLE g_stopped_event = nullptr;

static BOOL WINAPI console_event(DWORD event)
{
    {
        std::lock_guard<std::mutex> hold(g_watch_lock);
        if (!g_watch_io)
            return FALSE;
        log_line(LOG_INFO, "console event %lu: shutting down", static_cast<unsigned long>(event));
        std::function<void()> stop = g_watch_stop;
        asio::post(*g_watch_io, stop);
    }
    // Returning ends the process for these events: give the server a moment to close.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(g_stopped_event, 4000);
    return TRUE;
}

struct console_watch {
    ~console_watch()
    {
        SetConsoleCtrlHandler(console_event, FALSE);
        std::lock_guard<std::mutex> hold(g_watch_lock);
        g_watch_io = nullptr;
        g_watch_stop = nullptr;
        if (g_stopped_event)
            SetEvent(g_stopped_event);
    }
};

std::shared_ptr<void> stop_on_request(asio::io_context &io, std::function<void()> stop)
{
    {
        std::lock_guard<std::mutex> hold(g_watch_lock);
        g_watch_io = &io;
        g_watch_stop = std::move(stop);
        if (!g_stopped_event)
            g_stopped_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        else
            ResetEvent(g_stopped_event);
    }
    SetConsoleCtrlHandler(console_event, TRUE);
    return std::make_shared<console_watch>();
}
