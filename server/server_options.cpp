#include "server/server_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool parse_int(const char *text, long low, long high, int *out)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return false;
    *out = static_cast<int>(value);
    return true;
}

void print_server_usage()
{
    std::printf(
        "usage: pavoset-server --root DIR [options]\n"
        "       pavoset-server --make-sample DIR [--scale-mb N [--files K]]\n"
        "       pavoset-server --make-key KEYFILE\n"
        "       pavoset-server --sign DIR --key KEYFILE [--expires-days N]\n"
        "       pavoset-server --export LIBDIR OUTDIR [--key KEYFILE [--expires-days N]]\n"
        "\n"
        "Publishes the regular files in DIR (at most 15) to Pavoset clients over the text\n"
        "protocol (TCP), framed requests (UDP, same port number) and the framed file service (TCP).\n"
        "\n"
        "  --root DIR               library folder to publish\n"
        "  --bind ADDR              address to listen on (default 127.0.0.1)\n"
        "  --port N                 text protocol and framed request port (default 5757, 0 = any)\n"
        "  --file-port N            framed file service port (default 5758, 0 = any)\n"
        "  --announce-port N        file service port told to clients (default: the real one);\n"
        "                           for a server behind port forwarding or a remapping firewall\n"
        "  --port-file PATH         write the bound ports there (\"text N\", \"file N\")\n"
        "  --answer-gap-ms N        pause between a file answer and its data (default 30)\n"
        "  --answer-wait-ack        start that pause only once the client has acknowledged the\n"
        "                           answer: safer on lossy links, but costs the client's\n"
        "                           delayed-ACK time (40-200 ms) per file\n"
        "  --request-timeout-ms N   a request must arrive whole within N ms (default 10000)\n"
        "  --idle-timeout-ms N      idle text connections are closed after N ms (default 900000)\n"
        "  --stall-timeout-ms N     a client that reads nothing for N ms is dropped (default 30000)\n"
        "  --exchange-timeout-ms N  datagram exchanges wait N ms for the client's ack (default 10000)\n"
        "  --max-connections N      cap on open TCP connections (default 4096)\n"
        "  --window-kb N            framed streaming runs at most N KiB ahead of the NEXTs (default 256)\n"
        "  --log-level LEVEL        error, warn, info or debug (default info)\n"
        "  --log-file PATH          append log lines to PATH instead of standard error\n"
        "  --make-sample DIR        write the deterministic sample library into DIR and exit\n"
        "  --scale-mb N             with --make-sample: a bulk library of about N MiB instead\n"
        "  --files K                with --scale-mb: number of files (default 15)\n"
        "  --install-service        (Windows) register as a service that starts with the system,\n"
        "                           with the other options given here; then start it with\n"
        "                           \"sc start PavosetServer\"\n"
        "  --uninstall-service      (Windows) stop and remove that service\n"
        "  --make-key KEYFILE       write a new signing key (mode 0600, never overwritten) and\n"
        "                           print its public key for the clients' PublisherKey\n"
        "  --sign DIR               write DIR/Pavoset.manifest, signed with --key, and exit\n"
        "  --expires-days N         with a key: clients refuse the manifest after N days\n"
        "                           (default 90; 0: never, which lets a server that keeps\n"
        "                           serving an old manifest hide every later fix)\n"
        "  --export LIBDIR OUTDIR   write LIBDIR as a static folder for a web server or CDN\n"
        "                           (catalogue.txt, Pavoset.manifest, files/), signed with\n"
        "                           --key when given, and exit; OUTDIR may be the one served\n"
        "  --help, --version\n");
}

int parse_server_options(int argc, char **argv, server_options *options, std::string *error)
{
    struct int_option {
        const char *name;
        int *target;
        long low, high;
    };
    const int_option ints[] = {
        {"--port", &options->port, 0, 65535},
        {"--file-port", &options->file_port, 0, 65535},
        {"--announce-port", &options->announce_port, 0, 65535},
        {"--answer-gap-ms", &options->answer_gap_ms, 0, 10000},
        {"--request-timeout-ms", &options->request_timeout_ms, 1, 3600000},
        {"--idle-timeout-ms", &options->idle_timeout_ms, 1, 86400000},
        {"--stall-timeout-ms", &options->stall_timeout_ms, 1, 3600000},
        {"--exchange-timeout-ms", &options->exchange_timeout_ms, 1, 600000},
        {"--max-connections", &options->max_connections, 1, 1000000},
        {"--window-kb", &options->window_kb, 1, 65536},
        {"--scale-mb", &options->sample_scale_mb, 1, 4096},
        {"--files", &options->sample_files, 1, 15},
        {"--expires-days", &options->expires_days, 0, 36500},
    };
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options->show_help = true;
            continue;
        }
        if (!std::strcmp(arg, "--version")) {
            options->show_version = true;
            continue;
        }
        bool *flag = nullptr;
        if (!std::strcmp(arg, "--answer-wait-ack"))
            flag = &options->answer_wait_ack;
        else if (!std::strcmp(arg, "--install-service"))
            flag = &options->install_service;
        else if (!std::strcmp(arg, "--uninstall-service"))
            flag = &options->uninstall_service;
        else if (!std::strcmp(arg, "--service"))
            flag = &options->as_service;
        if (flag) {
            *flag = true;
            continue;
        }
        bool matched = false;
        for (const int_option &opt : ints) {
            if (std::strcmp(arg, opt.name) == 0) {
                if (!parse_int(value, opt.low, opt.high, opt.target)) {
                    *error = std::string(arg) + " needs a number from " + std::to_string(opt.low) +
                             " to " + std::to_string(opt.high);
                    return -1;
                }
                ++i;
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        std::string *text_target = nullptr;
        if (!std::strcmp(arg, "--root"))
            text_target = &options->root;
        else if (!std::strcmp(arg, "--bind"))
            text_target = &options->bind_address;
        else if (!std::strcmp(arg, "--port-file"))
            text_target = &options->port_file;
        else if (!std::strcmp(arg, "--log-file"))
            text_target = &options->log_file;
        else if (!std::strcmp(arg, "--make-sample"))
            text_target = &options->make_sample_dir;
        else if (!std::strcmp(arg, "--make-key"))
            text_target = &options->make_key_path;
        else if (!std::strcmp(arg, "--sign"))
            text_target = &options->sign_dir;
        else if (!std::strcmp(arg, "--key"))
            text_target = &options->key_path;
        if (text_target) {
            if (!value || !*value) {
                *error = std::string(arg) + " needs a value";
                return -1;
            }
            *text_target = value;
            ++i;
            continue;
        }
        if (!std::strcmp(arg, "--export")) {
            if (i + 2 >= argc || !*argv[i + 1] || !*argv[i + 2]) {
                *error = "--export needs LIBDIR and OUTDIR";
                return -1;
            }
            options->export_library_dir = argv[i + 1];
            options->export_out_dir = argv[i + 2];
            i += 2;
            continue;
        }
        if (!std::strcmp(arg, "--log-level")) {
            if (!parse_log_level(value, &options->level)) {
                *error = "--log-level takes error, warn, info or debug";
                return -1;
            }
            ++i;
            continue;
        }
        *error = std::string("unknown option ") + arg + " (try --help)";
        return -1;
    }
    if (options->show_help || options->show_version || options->uninstall_service)
        return 0;
    if (options->install_service && !options->make_sample_dir.empty()) {
        *error = "--install-service serves a library: give --root DIR, not --make-sample";
        return -1;
    }
    if (!options->sign_dir.empty() && options->key_path.empty()) {
        *error = "--sign DIR needs --key KEYFILE";
        return -1;
    }
    if (!options->sign_dir.empty() && !options->export_library_dir.empty()) {
        *error = "--sign and --export are separate runs";
        return -1;
    }
    bool expiry_given = false;
    for (int i = 1; i < argc; ++i)
        expiry_given = expiry_given || !std::strcmp(argv[i], "--expires-days");
    if (expiry_given && options->key_path.empty()) {
        *error = "--expires-days applies to a signed manifest: give --key KEYFILE";
        return -1;
    }
    if (options->root.empty() && options->make_sample_dir.empty() &&
        options->make_key_path.empty() && options->sign_dir.empty() &&
        options->export_library_dir.empty()) {
        *error = "--root DIR is required (try --help)";
        return -1;
    }
    return 0;
}
