// Closing a TCP connection of the server and bounding what it waits for. Shared by the text
// and the file service, whose connection records both carry ctx, socket, deadline, gap, id,
// peer, stream, deadline_generation and closed.
#pragma once
#include <chrono>

#include "server/file_stream.h"
#include "server/server_context.h"
#include "server/server_log.h"

// Cancels the timers, closes the socket and the file, gives the connection's place back.
// kind names the service in the log ("text", "file"). Closing twice is harmless.
template <class Connection>
void close_connection(Connection &c, const char *kind, const char *why, bool shutdown_first)
{
    if (c.closed)
        return;
    c.closed = true;
    log_line(LOG_DEBUG, "%s %s: closed (%s)", kind, c.peer.c_str(), why);
    asio::error_code ec;
    c.deadline.cancel();
    c.gap.cancel();
    if (shutdown_first)
        c.socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    c.socket.close(ec);
    file_stream_close(&c.stream);
    release_connection(c.ctx, c.id);
}

// One timer bounds whatever the connection is waiting for; re-arming replaces the bound.
// When it runs out, the time-out is counted and close(c, why) is called.
template <class Ptr, class Close>
void arm_deadline(const Ptr &c, int ms, const char *kind, const char *why, Close close)
{
    unsigned generation = ++c->deadline_generation;
    c->deadline.expires_after(std::chrono::milliseconds(ms));
    c->deadline.async_wait([c, generation, kind, why, close](const asio::error_code &ec) {
        if (ec || c->closed || generation != c->deadline_generation)
            return;
        ++c->ctx->counters.timeouts;
        log_line(LOG_INFO, "%s %s: %s, closing", kind, c->peer.c_str(), why);
        close(c, why);
    });
}
