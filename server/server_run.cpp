#include "server/server_run.h"

#include <cstdio>
#include <mutex>

#include "server/platform_files.h"
#include "server/platform_process.h"
#include "server/server.h"
#include "server/server_log.h"

static std::mutex g_run_lock;
static asio::io_context *g_run_io = nullptr;
static std::function<void()> g_run_stop;

static bool write_port_file(const std::string &path, const server_ports &ports)
{
    std::string temp = path + ".tmp";
    file_ref file;
    if (!create_for_writing(temp, &file))
        return false;
    char text[64];
    int length = std::snprintf(text, sizeof text, "text %d\nfile %d\n", ports.text, ports.file);
    bool ok = write_file_all(file, text, static_cast<size_t>(length));
    close_file(file);
    // Readers poll for the file: let it appear only when complete.
    if (!ok || !replace_file(temp, path)) {
        remove_file(temp);
        return false;
    }
    return true;
}

int run_server(const server_options &options, std::string *error,
               const std::function<void()> &started)
{
    ignore_broken_pipe();
    raise_descriptor_limit();
    asio::io_context io(1);
    server_ports ports;
    std::shared_ptr<server_instance> server = start_server(io, options, &ports, error);
    if (!server)
        return 1;
    if (!options.port_file.empty() && !write_port_file(options.port_file, ports)) {
        *error = "cannot write " + options.port_file;
        stop_server(server.get());
        io.run();
        return 1;
    }
    auto stop = [server] { stop_server(server.get()); };
    std::shared_ptr<void> watch = stop_on_request(io, stop);
    {
        std::lock_guard<std::mutex> hold(g_run_lock);
        g_run_io = &io;
        g_run_stop = stop;
    }
    if (started)
        started();
    io.run();
    {
        std::lock_guard<std::mutex> hold(g_run_lock);
        g_run_io = nullptr;
        g_run_stop = nullptr;
    }
    return 0;
}

void request_server_stop()
{
    std::lock_guard<std::mutex> hold(g_run_lock);
    if (g_run_io)
        asio::post(*g_run_io, g_run_stop);
}
