// Running one server until it is asked to stop: from the console, a signal or the service
// manager.
#pragma once
#include <functional>

#include "server/server_options.h"

// Starts the server, writes the port file, then serves until a stop request. started() is
// called once the sockets are open. Returns the process exit status; when it is not 0,
// *error says why.
int run_server(const server_options &options, std::string *error,
               const std::function<void()> &started = nullptr);

// Asks the running server to stop; callable from any thread, harmless when none runs.
void request_server_stop();
