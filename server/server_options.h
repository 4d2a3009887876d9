// Command-line options of pavoset-server.
#pragma once
#include <string>
#include "server/library_signing.h"  // SIGNING_EXPIRY_DEFAULT_DAYS
#include "server/server_log.h"

struct server_options {
    std::string root;  // the published library folder
    std::string bind_address = "127.0.0.1";
    int port = 5757;         // text protocol (TCP) and framed requests (UDP); 0 = any
    int file_port = 5758;    // framed file service (TCP); 0 = any
    int announce_port = 0;   // file port told to clients (behind port forwarding); 0 = file_port
    std::string port_file;   // where the bound ports are written, "text file" per line
    int answer_gap_ms = 30;  // pause that keeps a file answer alone in the client's receive
    bool answer_wait_ack = false;     // pause only once the client has acknowledged the answer
    int request_timeout_ms = 10000;   // a request must arrive whole within this
    int idle_timeout_ms = 900000;     // a text connection may rest this long between requests
    int stall_timeout_ms = 30000;     // a client that reads nothing for this long is dropped
    int exchange_timeout_ms = 10000;  // how long a datagram exchange waits for the client's ack
    int max_connections = 4096;       // text and file connections together
    int window_kb = 256;              // framed streaming: bytes sent ahead of the client's NEXTs
    log_level level = LOG_INFO;
    std::string log_file;  // log lines go there (appended) instead of standard error

    std::string make_sample_dir;  // --make-sample: write a sample library and exit
    int sample_scale_mb = 0;      // with --scale-mb: a bulk library of about this size
    int sample_files = 15;        // with --scale-mb: this many files

    bool install_service = false;    // register with the Windows service manager and exit
    bool uninstall_service = false;  // remove that registration and exit
    bool as_service = false;         // started by the service manager (set by the registration)
    std::string make_key_path;       // --make-key: write a new signing key and exit
    std::string sign_dir;            // --sign: write the signed manifest of this folder and exit
    std::string key_path;            // with --sign or --export: the signing key
    // With a key: the manifest expires after N days. 0 asks for none, and the signing says
    // what that gives up: a server that keeps serving it can hide every later fix unseen.
    int expires_days = SIGNING_EXPIRY_DEFAULT_DAYS;
    std::string export_library_dir;  // --export: the library folder to write as a static folder
    std::string export_out_dir;      // --export: the static folder a web server serves

    bool show_help = false;
    bool show_version = false;
};

// 0 when the options are usable, -1 with *error set otherwise.
int parse_server_options(int argc, char **argv, server_options *options, std::string *error);
void print_server_usage();
