// pavoset-server: publishes a library folder to Pavoset clients.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

#include "server/library_signing.h"
#include "server/sample_library.h"
#include "server/server.h"
#include "server/server_log.h"
#include "server/signing_key.h"

// A thousand clients need more descriptors than the usual soft limit of 1024.
static void raise_descriptor_limit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

static bool write_port_file(const std::string &path, const server_ports &ports)
{
    std::string temp = path + ".tmp";
    FILE *file = std::fopen(temp.c_str(), "w");
    if (!file)
        return false;
    std::fprintf(file, "text %d\nfile %d\n", ports.text, ports.file);
    bool ok = std::fclose(file) == 0;
    // Readers poll for the file: let it appear only when complete.
    return ok && std::rename(temp.c_str(), path.c_str()) == 0;
}

int main(int argc, char **argv)
{
    server_options options;
    std::string error;
    if (parse_server_options(argc, argv, &options, &error) != 0) {
        std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
        return 2;
    }
    if (options.show_help) {
        print_server_usage();
        return 0;
    }
    if (options.show_version) {
        std::printf("pavoset-server %s\n", PAVOSET_SERVER_VERSION);
        return 0;
    }
    set_log_level(options.level);
    if (!options.make_sample_dir.empty()) {
        bool ok = options.sample_scale_mb > 0
                      ? make_bulk_library(options.make_sample_dir, options.sample_scale_mb,
                                          options.sample_files, &error)
                      : make_sample_library(options.make_sample_dir, &error);
        if (!ok) {
            std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (!options.make_key_path.empty()) {
        std::string public_key;
        if (!make_signing_key(options.make_key_path, &public_key, &error)) {
            std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", public_key.c_str());
        return 0;
    }
    if (!options.sign_dir.empty()) {
        signing_result result;
        if (!sign_library(options.sign_dir, options.key_path, options.expires_days,
                          static_cast<int64_t>(std::time(nullptr)), &result, &error)) {
            std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "pavoset-server: signed %d files, sequence %llu\n", result.files,
                     static_cast<unsigned long long>(result.sequence));
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    raise_descriptor_limit();

    asio::io_context io(1);
    server_ports ports;
    std::shared_ptr<server_instance> server = start_server(io, options, &ports, &error);
    if (!server) {
        std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
        return 1;
    }
    if (!options.port_file.empty() && !write_port_file(options.port_file, ports)) {
        std::fprintf(stderr, "pavoset-server: cannot write %s\n", options.port_file.c_str());
        stop_server(server.get());
        io.run();
        return 1;
    }
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const asio::error_code &ec, int signal_number) {
        if (ec)
            return;
        log_line(LOG_INFO, "signal %d: shutting down", signal_number);
        stop_server(server.get());
    });
    io.run();
    return 0;
}
