// What the server's two TCP services (text and file) share: the connection's common fields,
// its close and its deadline, and the accept loop with the connection cap and the stop
// callback. Each service keeps its protocol and passes what differs as plain data and
// callbacks.
#pragma once
#include <memory>
#include <string>

#include "server/file_stream.h"
#include "server/server_context.h"

struct tcp_service {
    const char *kind;        // names the service in the log: "text", "file"
    bool shutdown_on_close;  // shut both directions down before closing the socket
    std::string refusal;     // sent to a client turned away at the cap; empty: closed silently
    // Makes the service's connection around an accepted socket and, when
    // admit_tcp_connection takes it, starts the protocol on it.
    void (*open)(server_context *ctx, asio::ip::tcp::socket socket);
};

// The fields every TCP connection of the server carries; each service's connection record
// holds one, and hands the core a shared_ptr to it that shares the record's ownership.
struct tcp_connection {
    server_context *ctx;
    const tcp_service *service;
    asio::ip::tcp::socket socket;
    asio::steady_timer deadline;
    asio::steady_timer gap;  // the pause after an answer (answer_pacing.h)
    uint64_t id = 0;
    std::string peer;
    file_stream stream;
    unsigned deadline_generation = 0;
    bool closed = false;

    tcp_connection(server_context *c, const tcp_service *s, asio::ip::tcp::socket sock)
        : ctx(c), service(s), socket(std::move(sock)), deadline(*c->io), gap(*c->io)
    {}
};
using tcp_ptr = std::shared_ptr<tcp_connection>;

// Accepts connections on the acceptor until it is closed, handing each to service->open.
void accept_tcp_connections(server_context *ctx, asio::ip::tcp::acceptor *acceptor,
                            const tcp_service *service);

// Takes a connection slot for a freshly opened connection and registers its close at stop.
// When the cap is reached, sends the service's refusal, closes and returns false.
bool admit_tcp_connection(const tcp_ptr &c);

// Cancels the timers, closes the socket and the file, gives the connection's place back.
// Closing twice is harmless.
void close_tcp_connection(tcp_connection &c, const char *why);

// One timer bounds whatever the connection is waiting for; re-arming replaces the bound.
// When it runs out, the time-out is counted and the connection closed with why.
void arm_deadline(const tcp_ptr &c, int ms, const char *why);
