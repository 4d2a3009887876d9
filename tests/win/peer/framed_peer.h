// A scripted framed-protocol server on 127.0.0.1: the acknowledged datagram side answers
// the catalogue and port requests, the TCP file service serves files by rule. Its pieces
// serve the tests that script one exchange or one file request themselves.
#pragma once
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peer_sockets.h"

// The server's side of one exchange, the request received: acknowledge it, answer it, and
// confirm the client's acknowledgement of the answer. False when nothing came after the
// answer. With an impostor (a socket on another port), each of those datagrams is raced by
// a well-formed forgery sent first: an acknowledgement and an answer of the request's kind
// adding "evil.dll", then a rejection of the client's acknowledgement.
bool answer_request(SOCKET s, const datagram &request, const std::vector<uint8_t> &answer,
                    SOCKET impostor = INVALID_SOCKET);
// The same, receiving the request first; false also when no request came.
bool serve_one(SOCKET s, const std::vector<uint8_t> &answer, datagram *request,
               SOCKET impostor = INVALID_SOCKET);

// The file service's side: reads one whole request packet (header and body) into *packet;
// false when the connection ended or stalled first.
bool read_file_request(SOCKET s, std::string *packet);

struct framed_file_rule {
    std::string name;
    std::string bytes;
    // TRICKLE: the file a byte at a time, framed_peer::trickle_ms apart, until it is all
    // sent or the client has gone.
    enum { SERVE, REFUSE, CLOSE_HALFWAY, STALL, TRICKLE } mode;
};

struct framed_peer {
    SOCKET datagram_socket = INVALID_SOCKET;
    SOCKET file_listener = INVALID_SOCKET;
    u_short datagram_port = 0;
    u_short file_port = 0;
    int catalogue_value = 1000;     // the catalogue answer's value
    bool refuse_catalogue = false;  // answer with kind 2 / sub-kind 2
    std::string catalogue_body;
    int announced_port = -1;  // -1: the real file port
    int trickle_ms = 200;
    std::vector<framed_file_rule> rules;
    std::atomic<bool> stopping{false};
    std::thread datagram_thread;
    std::thread file_thread;
    std::mutex lock;
    std::vector<std::thread> connections;
    std::vector<std::string> file_requests;
};

void start_framed_peer(framed_peer *peer);
void stop_framed_peer(framed_peer *peer);
