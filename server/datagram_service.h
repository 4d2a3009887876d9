// Framed requests over UDP, in the acknowledged exchange the client expects: our ack, the
// answer, the client's code-1 ack, our reply to it.
#pragma once
#include <chrono>
#include <map>
#include <vector>

#include "server/server_context.h"

enum {
    SERVER_ACK_CODE = 2,          // neither 0 (the client would echo it) nor 3 (rejection)
    DATAGRAM_MAX_PENDING = 8192,  // exchanges awaiting the client's ack, all clients together
    DATAGRAM_MAX_REQUEST_BODY = 246,
};

struct datagram_service {
    server_context *ctx = nullptr;
    asio::ip::udp::socket *socket = nullptr;
    std::vector<uint8_t> buffer;
    asio::ip::udp::endpoint sender;
    // Per client address: when its open exchange stops waiting for the client's ack.
    std::map<asio::ip::udp::endpoint, std::chrono::steady_clock::time_point> pending;
    asio::steady_timer *sweep = nullptr;
};

void start_datagram_service(datagram_service *service, server_context *ctx,
                            asio::ip::udp::socket *socket, asio::steady_timer *sweep);

// What the service does with one datagram from sender (exposed for tests without sockets):
// the datagrams to send back, in order.
std::vector<std::vector<uint8_t>> datagram_reply(datagram_service *service, const uint8_t *data,
                                                 size_t length,
                                                 const asio::ip::udp::endpoint &sender);
