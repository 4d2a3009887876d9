// pavoset-server: publishes a library folder to Pavoset clients.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "pavoset_version.h"
#include "server/library_export.h"
#include "server/library_signing.h"
#include "server/platform_files.h"
#include "server/platform_process.h"
#include "server/sample_library.h"
#include "server/server_log.h"
#include "server/server_run.h"
#include "server/service_control.h"
#include "server/signing_key.h"

// Every signing says how long clients accept what it signed, or what having no expiry gives up.
static void say_expiry(int expires_days)
{
    if (expires_days > 0)
        std::fprintf(stderr, "pavoset-server: clients accept it for %d days; sign again before\n",
                     expires_days);
    else
        std::fprintf(stderr, "pavoset-server: warning: no expiry (--expires-days 0): clients "
                             "accept this manifest forever, so whoever keeps serving it can "
                             "hide every later fix without the clients noticing\n");
}

int main(int argc, char **argv)
{
    std::vector<std::string> args = utf8_arguments(argc, argv);
    std::vector<char *> utf8_argv;
    for (std::string &arg : args)
        utf8_argv.push_back(&arg[0]);
    utf8_argv.push_back(nullptr);
    server_options options;
    std::string error;
    if (parse_server_options(argc, utf8_argv.data(), &options, &error) != 0) {
        std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
        return 2;
    }
    if (options.show_help) {
        print_server_usage();
        return 0;
    }
    if (options.show_version) {
        std::printf("pavoset-server %s\n", PAVOSET_VERSION_TEXT);
        return 0;
    }
    set_log_level(options.level);
    if (options.uninstall_service)
        return uninstall_service();
    if (options.install_service) {
        // A service that cannot start only tells of it in its log: refuse a bad root now.
        file_facts root;
        if (!path_facts(options.root, true, &root) || !root.folder) {
            std::fprintf(stderr, "pavoset-server: library folder %s is not a readable folder\n",
                         options.root.c_str());
            return 1;
        }
        return install_service(argc, argv);
    }
    if (options.as_service)
        return run_as_service(options);
    if (!options.log_file.empty() && !set_log_file(options.log_file)) {
        std::fprintf(stderr, "pavoset-server: cannot open log file %s\n", options.log_file.c_str());
        return 1;
    }
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
        say_expiry(options.expires_days);
        return 0;
    }
    if (!options.export_library_dir.empty()) {
        export_request request;
        request.library = options.export_library_dir;
        request.out = options.export_out_dir;
        request.key_path = options.key_path;
        request.expires_days = options.expires_days;
        request.now = static_cast<int64_t>(std::time(nullptr));
        export_result result;
        if (!export_library(request, &result, &error)) {
            std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "pavoset-server: exported %d files (%d written, %llu bytes)%s\n",
                     result.files, result.files_written,
                     static_cast<unsigned long long>(result.bytes_written),
                     result.has_manifest ? ", with the signed manifest" : "");
        if (!options.key_path.empty())
            say_expiry(options.expires_days);
        return 0;
    }
    int status = run_server(options, &error);
    if (status != 0)
        std::fprintf(stderr, "pavoset-server: %s\n", error.c_str());
    return status;
}
