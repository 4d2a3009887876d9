// A server on its own thread for protocol tests, and scratch library folders.
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
};

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
