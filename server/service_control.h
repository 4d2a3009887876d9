// pavoset-server as a Windows service (service_control_win.cpp); elsewhere these say that
// the system's own service manager runs the server (service_control_posix.cpp).
#pragma once
#include "server/server_options.h"

// The registration's names.
#define PAVOSET_SERVICE_NAME    "PavosetServer"
#define PAVOSET_SERVICE_DISPLAY "Pavoset update server"

// Registers the program as an automatically started service that runs with the options on
// this command line (paths made absolute). Returns the exit status.
int install_service(int argc, char **argv);
// Stops the service if it runs and removes its registration. Returns the exit status.
int uninstall_service();
// Runs the server under the service manager until it asks the service to stop.
int run_as_service(const server_options &options);
