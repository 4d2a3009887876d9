// A server on its own thread for protocol tests, and scratch library folders.
//
// With PAVOSET_TEST_SERVER_CMD set (say "wine /path/pavoset-server.exe"), the protocol tests
// start that command as a separate process instead, with the same options, and talk to it the
// same way: the Windows build is checked by these very tests. Paths given to it are prefixed
// with PAVOSET_TEST_SERVER_PATH_PREFIX (say "Z:", where Wine shows the host's root).
#pragma once
#include <memory>
#include <string>
#include <thread>

#include "server/server.h"

struct running_server {
    asio::io_context io{1};
    std::shared_ptr<server_instance> server;
    server_ports ports;
    std::thread thread;
    int pid = -1;  // an external server's process; server and thread are then unused
};

// True when the protocol tests run against an external server command.
bool external_test_server();

// Options for a loopback server on system-chosen ports over root, with short time-outs.
server_options test_options(const std::string &root);
// Starts the server; fails the calling test (and returns null) when it cannot start.
std::unique_ptr<running_server> start_test_server(const server_options &options);
void stop_test_server(running_server *server);

// A fresh folder under /tmp, removed by remove_folder.
std::string make_scratch_folder();
void remove_folder(const std::string &path);
void write_file(const std::string &path, const std::string &content, long long mtime = 1700000000);
std::string read_file(const std::string &path);
// The sample library in a fresh folder.
std::string make_sample_folder();
