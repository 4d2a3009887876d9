// Shared by the catalogue tests: a hidden main window with the real list view, the install
// folder, the scripted peers of the test library, and running an install pass on a worker thread.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "catalogue/list_rows.h"
#include "net/net_timeouts.h"
#include "peer_sockets.h"
#include "settings/registry_store.h"
#include "settings_registry.h"
#include "test_files.h"
#include "text_peer.h"

// ---------------------------------------------------------------- install folder
void reset_install_folder();                      // empty C:\TervalenWyndale, created
std::vector<std::string> install_folder_names();  // every name inside it, hidden too

// Builds the catalogue from "rec~|rec..." as the refresh does.
void load_catalogue(const std::string &records_text);

// ---------------------------------------------------------------- main window
struct test_window {
    HWND main;
    HWND list;
    HWND progress;
    HWND label;
};
test_window create_test_window();
void destroy_test_window(test_window *w);
// Empties the list and fills it as a refresh does (compare_catalogue_with_folder, then
// fill_catalogue_rows).
void fill_rows(const test_window &w);
std::string cell(const test_window &w, int row, int column);

// The transfers' rate bound for one test (0: none), as the program's would be judged over a
// much shorter window; the suite's values come back at the end of the scope.
struct rate_bound_for_test {
    net_timeouts saved = g_net_timeouts;
    rate_bound_for_test(int bytes_per_s, int window_ms)
    {
        g_net_timeouts.min_rate_bytes_per_s = bytes_per_s;
        g_net_timeouts.rate_window_ms = window_ms;
    }
    ~rate_bound_for_test() { g_net_timeouts = saved; }
};

// Runs fn on a worker thread while this thread pumps messages (the list view answers the
// worker's messages here) and closes every message box the worker shows, collecting texts.
// on_box (when given) is called on this thread for each box before it is closed.
std::vector<std::string> run_pass(const std::function<void()> &fn,
                                  const std::function<void()> &on_box = nullptr);

std::string env_text(const char *name);  // "" when unset
