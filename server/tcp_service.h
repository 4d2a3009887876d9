// What the server's two TCP services (text and file) share: the connection's common fields,
// its close and its deadline, the accept loop with the connection cap and the stop callback,
// and the reads, writes and waits both protocols are made of. Each service keeps its protocol
// and passes what differs as plain data and callbacks.
#pragma once
#include <functional>
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

// The core of a service's connection, sharing the ownership of the whole record.
template <class Connection> tcp_ptr core_of(const std::shared_ptr<Connection> &c)
{
    return tcp_ptr(c, &c->core);
}

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

// Reads what the client sends: got(n) with what came, failed(ec) when the read ends (the
// client's close included); nothing once the connection is closed. Templates, not
// std::function: the file service reads once per acknowledgement.
template <class Got, class Failed>
void read_some(const tcp_ptr &c, asio::mutable_buffer buffer, Got got, Failed failed)
{
    c->socket.async_read_some(buffer, [c, got, failed](const asio::error_code &ec, size_t n) {
        if (c->closed)
            return;
        if (ec) {
            failed(ec);
            return;
        }
        got(n);
    });
}

// The steps both protocols take, each bounded by the stall time-out. then runs only while the
// connection is open; a failure closes it.
// Writes the whole answer (it must outlive the write).
void write_answer(const tcp_ptr &c, asio::const_buffer answer, std::function<void()> then);
// Keeps the answer alone in the client's first receive (answer_pacing.h); closes with
// undelivered when that cannot be had.
void pace_answer(const tcp_ptr &c, const char *undelivered, std::function<void()> then);
// Waits until the socket takes more.
void wait_writable(const tcp_ptr &c, std::function<void()> then);
