#include "server/tcp_service.h"

#include <chrono>

#include "server/answer_pacing.h"
#include "server/server_log.h"

using asio::ip::tcp;

void accept_tcp_connections(server_context *ctx, tcp::acceptor *acceptor,
                            const tcp_service *service)
{
    acceptor->async_accept(
        [ctx, acceptor, service](const asio::error_code &ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !acceptor->is_open())
                return;
            if (ec) {
                // Out of descriptors and the like: pause instead of spinning on the error.
                log_line(LOG_WARN, "%s: accept failed: %s", service->kind, ec.message().c_str());
                auto pause =
                    std::make_shared<asio::steady_timer>(*ctx->io, std::chrono::milliseconds(100));
                pause->async_wait([ctx, acceptor, service, pause](const asio::error_code &) {
                    if (acceptor->is_open())
                        accept_tcp_connections(ctx, acceptor, service);
                });
                return;
            }
            service->open(ctx, std::move(socket));
            accept_tcp_connections(ctx, acceptor, service);
        });
}

bool admit_tcp_connection(const tcp_ptr &c)
{
    asio::error_code ignored;
    c->peer = endpoint_text(c->socket.remote_endpoint(ignored));
    std::weak_ptr<tcp_connection> weak = c;
    c->id = admit_connection(c->ctx, [weak] {
        if (auto strong = weak.lock())
            close_tcp_connection(*strong, "server stopping");
    });
    if (!c->id) {
        log_line(LOG_WARN, "%s %s: connection cap reached, refusing", c->service->kind,
                 c->peer.c_str());
        if (!c->service->refusal.empty()) {
            // One try, never a wait: a client turned away gets what the socket takes at once.
            c->socket.non_blocking(true, ignored);
            c->socket.send(asio::buffer(c->service->refusal), 0, ignored);
        }
        c->socket.close(ignored);
        c->closed = true;
        return false;
    }
    c->socket.set_option(tcp::no_delay(true), ignored);
    c->socket.non_blocking(true, ignored);
    return true;
}

void close_tcp_connection(tcp_connection &c, const char *why)
{
    if (c.closed)
        return;
    c.closed = true;
    log_line(LOG_DEBUG, "%s %s: closed (%s)", c.service->kind, c.peer.c_str(), why);
    asio::error_code ec;
    c.deadline.cancel();
    c.gap.cancel();
    if (c.service->shutdown_on_close)
        c.socket.shutdown(tcp::socket::shutdown_both, ec);
    c.socket.close(ec);
    file_stream_close(&c.stream);
    release_connection(c.ctx, c.id);
}

void arm_deadline(const tcp_ptr &c, int ms, const char *why)
{
    unsigned generation = ++c->deadline_generation;
    c->deadline.expires_after(std::chrono::milliseconds(ms));
    c->deadline.async_wait([c, generation, why](const asio::error_code &ec) {
        if (ec || c->closed || generation != c->deadline_generation)
            return;
        ++c->ctx->counters.timeouts;
        log_line(LOG_INFO, "%s %s: %s, closing", c->service->kind, c->peer.c_str(), why);
        close_tcp_connection(*c, why);
    });
}

// What follows one step: nothing once the connection is closed, a close with failure when
// the step failed, else then.
static void after_step(const tcp_ptr &c, bool failed, const char *failure,
                       const std::function<void()> &then)
{
    if (c->closed)
        return;
    if (failed) {
        close_tcp_connection(*c, failure);
        return;
    }
    then();
}

void write_answer(const tcp_ptr &c, asio::const_buffer answer, std::function<void()> then)
{
    arm_deadline(c, c->ctx->options.stall_timeout_ms, "client stopped reading");
    asio::async_write(c->socket, answer, [c, then](const asio::error_code &ec, size_t) {
        after_step(c, static_cast<bool>(ec), "write failed", then);
    });
}

void pace_answer(const tcp_ptr &c, const char *undelivered, std::function<void()> then)
{
    const server_options &options = c->ctx->options;
    pace_after_answer(
        c->socket, c->gap, options.answer_gap_ms, options.stall_timeout_ms,
        [c, undelivered, then](bool delivered) { after_step(c, !delivered, undelivered, then); },
        options.answer_wait_ack);
}

void wait_writable(const tcp_ptr &c, std::function<void()> then)
{
    arm_deadline(c, c->ctx->options.stall_timeout_ms, "client stopped reading");
    c->socket.async_wait(tcp::socket::wait_write, [c, then](const asio::error_code &ec) {
        after_step(c, static_cast<bool>(ec), "wait failed", then);
    });
}
