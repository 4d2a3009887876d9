// State that the server's services share: options, the library versions and the connection
// count.
// One io_context thread owns all of it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "server/asio_config.h"
#include "server/library_version.h"
#include "server/server_options.h"

struct server_counters {
    uint64_t text_requests = 0;
    uint64_t datagram_requests = 0;
    uint64_t file_requests = 0;
    uint64_t refused = 0;            // connections turned away by the cap
    uint64_t dropped_datagrams = 0;  // malformed or unexpected
    uint64_t timeouts = 0;           // connections closed for silence or stalling
};

struct server_context {
    asio::io_context *io = nullptr;
    server_options options;
    library_versions library;
    int open_connections = 0;
    bool stopping = false;
    uint64_t next_connection_id = 1;
    std::map<uint64_t, std::function<void()>> closers;  // live connections, closed on stop
    server_counters counters;
};

// Takes a connection slot and registers how to close it at shutdown. Returns 0 when the
// connection cap is reached (nothing taken).
uint64_t admit_connection(server_context *ctx, std::function<void()> closer);
void release_connection(server_context *ctx, uint64_t id);

std::string endpoint_text(const asio::ip::tcp::endpoint &endpoint);
std::string endpoint_text(const asio::ip::udp::endpoint &endpoint);
