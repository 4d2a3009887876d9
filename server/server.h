// Starting and stopping a whole server on an io_context: the three sockets and the library.
#pragma once
#include <memory>
#include <string>

#include "server/server_context.h"

struct server_instance;

struct server_ports {
    int text = 0;  // TCP text protocol, and UDP framed requests on the same number
    int file = 0;  // TCP framed file service
};

// Scans the library (a bad library is an error naming the file) and opens the sockets.
// Returns null with *error set on failure. Nothing runs until the io_context does.
std::shared_ptr<server_instance> start_server(asio::io_context &io, const server_options &options,
                                              server_ports *ports, std::string *error);

// Closes the sockets and every connection; the io_context then runs out of work.
void stop_server(server_instance *server);

// The shared state, for tests and statistics.
server_context *server_state(server_instance *server);
