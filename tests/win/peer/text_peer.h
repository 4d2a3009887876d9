// A scripted text-protocol server on 127.0.0.1: every connection is handled by a script on a
// thread of its own.
#pragma once
#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct text_peer {
    SOCKET listener = INVALID_SOCKET;
    u_short port = 0;
    std::thread acceptor;
    std::vector<std::thread> connections;
    std::mutex lock;
    std::vector<std::string> requests;  // every request, in order of arrival
    int accepted = 0;
    int drop_connections = 0;  // the first ones are closed unanswered, as an idle
                               // limit or a NAT drops them
    int trickle_ms = 200;      // TRICKLE: the pause before each byte of the file
    // Read at every file request, so a test may change them under lock while the peer runs:
    std::set<std::string> refused;  // refused whatever their rule, as a server that holds a
                                    // file but will not give it now
    int data_pause_ms = 0;          // SERVE: above 0, the answer goes alone and the file
                                    // follows after this pause, as from a slow disk
    ~text_peer();
};
// serve(socket, peer) returns when the connection should be closed.
void start_text_peer(text_peer *peer, std::function<void(SOCKET, text_peer *)> serve);
void stop_text_peer(text_peer *peer);  // a second call does nothing

// Common case: files by name; a name that is not there is refused with "#EXL:ERR:".
struct text_file_rule {
    std::string name;
    std::string announce_bytes;  // what the answer announces and what is sent
    // PADDED: the answer padded with NULs to 4096 bytes in one send, the file in the next.
    // SHORT_THEN_DATA: an answer shorter than its status ("#EXL:"), then the file anyway.
    // TRICKLE: the answer, then the file a byte at a time, trickle_ms apart, until it is all
    // sent or the client has gone.
    enum { SERVE, REFUSE, CLOSE_HALFWAY, TWO_FIELDS, PADDED, SHORT_THEN_DATA, TRICKLE } mode;
};
std::function<void(SOCKET, text_peer *)> text_file_server(const std::string &catalogue_answer,
                                                          std::vector<text_file_rule> rules);

void point_client_at(u_short port);  // g_server_address = 127.0.0.1:port
