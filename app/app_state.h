// Process-wide state of the program shell: what start-up hands to the main window and
// what the main window and the install worker share.
#pragma once
#include <windows.h>
#include "net/server_address.h"
#include "settings/library_url.h"

// The worker tells the main window it has finished with everything the UI thread owns.
#define WM_WORKER_DONE (WM_APP + 1)

enum { FIRST_INSTALL_MARK = 1234 };

extern HINSTANCE g_instance;
extern int g_cmdline_address_flag;             // 1 when "-ip" was given (and accepted)
extern char g_cmdline_host[SERVER_HOST_SIZE];  // the "-ip" text as given, untrimmed
extern char g_cmdline_url[LIBRARY_URL_MAX];    // the "-url" address, empty when none
extern int g_first_install_marker;             // FIRST_INSTALL_MARK after an all-New refresh
extern volatile LONG g_worker_running;         // 1 from Download until the worker is done
