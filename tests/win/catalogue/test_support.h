// Shared by the catalogue tests: a hidden main window with the real list view, the install
// folder, scripted peers on 127.0.0.1, and running an install pass on a worker thread.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "settings/registry_store.h"

// ---------------------------------------------------------------- files
std::string read_whole_file(const char *path);  // "" when absent
bool write_whole_file(const char *path, const std::string &bytes);
bool path_exists(const char *path);
void remove_tree(const char *path);               // files and folders below, then path
void reset_install_folder();                      // empty C:\TervalenWyndale, created
std::vector<std::string> install_folder_names();  // every name inside it, hidden too
uint32_t crc_of(const std::string &bytes);
std::string make_bytes(size_t size, uint32_t seed);  // reproducible file contents
uint64_t last_write_time(const char *path);          // 0 when absent

// A catalogue record "name^|crc^|size^|low^|high" for these bytes.
std::string record_for(const std::string &name, const std::string &bytes,
                       const std::string &low = "100", const std::string &high = "30000000");

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
// Empties the list and fills it as the main window does (fill_catalogue_rows).
void fill_rows(const test_window &w);
std::string cell(const test_window &w, int row, int column);

// Runs fn on a worker thread while this thread pumps messages (the list view answers the
// worker's messages here) and closes every message box the worker shows, collecting texts.
std::vector<std::string> run_pass(const std::function<void()> &fn);

// ---------------------------------------------------------------- scripted peers
SOCKET listen_tcp(uint16_t *port);  // 127.0.0.1, ephemeral port
bool send_all(SOCKET s, const void *data, size_t length);
// Reads up to and including a NUL; false when the peer closed first.
bool read_request(SOCKET s, std::string *request);

// A text-protocol server: every connection is handled by `serve` on a thread of its own.
struct text_peer {
    SOCKET listener = INVALID_SOCKET;
    uint16_t port = 0;
    std::thread acceptor;
    std::vector<std::thread> connections;
    std::mutex lock;
    std::vector<std::string> requests;  // every request, in order of arrival
    int accepted = 0;
    int drop_connections = 0;  // the first ones are closed unanswered, as an idle
                               // limit or a NAT drops them
};
// serve(socket, peer) returns when the connection should be closed.
void start_text_peer(text_peer *peer, std::function<void(SOCKET, text_peer *)> serve);
void stop_text_peer(text_peer *peer);
// Common case: files by name; a name that is not there is refused with "#EXL:ERR:".
struct text_file_rule {
    std::string name;
    std::string announce_bytes;  // what the answer announces and what is sent
    // PADDED: the answer padded with NULs to 4096 bytes in one send, the file in the next.
    // SHORT_THEN_DATA: an answer shorter than its status ("#EXL:"), then the file anyway.
    enum { SERVE, REFUSE, CLOSE_HALFWAY, TWO_FIELDS, PADDED, SHORT_THEN_DATA } mode;
};
std::function<void(SOCKET, text_peer *)> text_file_server(const std::string &catalogue_answer,
                                                          std::vector<text_file_rule> rules);
void point_client_at(uint16_t port);  // g_server_address = 127.0.0.1:port

std::string env_text(const char *name);  // "" when unset

// ---------------------------------------------------------------- registry
void delete_settings_tree();  // HKCU\SOFTWARE\TervalenWyndale and below (SETTINGS_KEY's parents)
// The value's raw bytes and type as stored; false when the key or value is missing.
bool raw_setting(const char *name, std::string *bytes, DWORD *type);
void put_raw_setting(const char *name, DWORD type, const void *data, DWORD length);
