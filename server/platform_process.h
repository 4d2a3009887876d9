// Process-wide set-up and stop requests, one implementation per system
// (platform_process_posix.cpp, platform_process_win.cpp).
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/asio_config.h"

// The command line in UTF-8, as every path in the server is. Windows hands main() its
// arguments in the ANSI code page, which would garble a Korean folder name.
std::vector<std::string> utf8_arguments(int argc, char **argv);

// A client that hangs up mid-file must cost an error code, not the process.
void ignore_broken_pipe();

// A thousand clients need more descriptors than the usual soft limit.
void raise_descriptor_limit();

// Calls stop on the io_context's thread when the user or the system asks the program to end
// (SIGINT/SIGTERM; Ctrl+C, Ctrl+Break, closing the console, logging off, shutting down).
// The returned object keeps the watch; dropping it ends the watch.
std::shared_ptr<void> stop_on_request(asio::io_context &io, std::function<void()> stop);
