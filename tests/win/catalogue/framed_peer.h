// A scripted framed-protocol server on 127.0.0.1: the acknowledged datagram side answers
// the catalogue and port requests, the TCP file service serves files by rule.
#pragma once
#include <winsock2.h>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct framed_file_rule {
    std::string name;
    std::string bytes;
    enum { SERVE, REFUSE, CLOSE_HALFWAY, STALL } mode;
};

struct framed_peer {
    SOCKET datagram = INVALID_SOCKET;
    SOCKET file_listener = INVALID_SOCKET;
    uint16_t datagram_port = 0;
    uint16_t file_port = 0;
    int catalogue_value = 1000;     // the catalogue answer's value
    bool refuse_catalogue = false;  // answer with kind 2 / sub-kind 2
    std::string catalogue_body;
    int announced_port = -1;  // -1: the real file port
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
