#include "server/file_service.h"

#include <array>
#include <memory>

#include "core/packet_codec.h"
#include "server/file_stream.h"
#include "server/server_log.h"
#include "server/tcp_service.h"

using asio::ip::tcp;

static void file_open(server_context *ctx, tcp::socket socket);

// At the cap the file service closes without an answer packet.
static const tcp_service file_service = {"file", false, std::string(), file_open};

struct file_connection {
    tcp_connection core;
    uint8_t header[PACKET_HEADER_SIZE] = {};
    std::string name;
    uint8_t answer[PACKET_HEADER_SIZE] = {};
    std::array<char, 4096> acks;
    uint64_t sent = 0;
    uint64_t ack_bytes = 0;         // bytes the client sent back: 4 per "NEXT"
    bool waiting_window = false;    // paused until more "NEXT"s arrive
    bool waiting_writable = false;  // paused until the socket takes more
    bool done_sending = false;

    file_connection(server_context *c, tcp::socket s) : core(c, &file_service, std::move(s)) {}
};
using file_ptr = std::shared_ptr<file_connection>;

static void file_stream_on(const file_ptr &c);

static void file_close(const file_ptr &c, const char *why)
{
    close_tcp_connection(c->core, why);
}

static void file_arm(const file_ptr &c, int ms, const char *why)
{
    arm_deadline(core_of(c), ms, why);
}

// While a file is under way, any close (a stall, the server stopping, the process dying) is
// a reset: clients in the field take a file as complete at an ordinary close, whatever its
// size, so an unfinished file must never end like a finished one.
static void file_abort_on_close(const file_ptr &c, bool abort)
{
    asio::error_code ignored;
    c->core.socket.set_option(asio::socket_base::linger(abort, 0), ignored);
}

// After the last byte: stop sending, but keep reading until the client hangs up, so that
// unread "NEXT"s in our receive queue never turn the close into a reset that could destroy
// file data the client has not read yet.
static void file_finish(const file_ptr &c)
{
    c->done_sending = true;
    file_abort_on_close(c, false);
    asio::error_code ec;
    c->core.socket.shutdown(tcp::socket::shutdown_send, ec);
    file_arm(c, c->core.ctx->options.stall_timeout_ms, "client did not hang up");
}

static void file_read_acks(const file_ptr &c)
{
    read_some(
        core_of(c), asio::buffer(c->acks),
        [c](size_t n) {
            c->ack_bytes += n;
            if (c->waiting_window) {
                c->waiting_window = false;
                file_stream_on(c);
            }
            file_read_acks(c);
        },
        [c](const asio::error_code &) {
            if (!c->done_sending)
                log_line(LOG_INFO, "file %s: client left after %llu of %llu bytes",
                         c->core.peer.c_str(), static_cast<unsigned long long>(c->sent),
                         static_cast<unsigned long long>(c->core.stream.end));
            file_close(c, c->done_sending ? "transfer complete" : "client left");
        });
}

// Each "NEXT" stands for at most CLIENT_CHUNK bytes the client has taken: a client that reads
// a KiB at a time says it after every receive, one that reads more at once says it once per
// started KiB. Either way the credit covers what it took; stream no further ahead than the
// window. (The default window equals the largest receive of our client; larger windows gave
// it nothing more on loopback.)
static uint64_t file_window_room(const file_connection *c)
{
    uint64_t window = static_cast<uint64_t>(c->core.ctx->options.window_kb) * 1024;
    uint64_t taken = (c->ack_bytes / 4) * CLIENT_CHUNK;
    uint64_t ahead = c->sent > taken ? c->sent - taken : 0;
    return ahead >= window ? 0 : window - ahead;
}

static void file_stream_on(const file_ptr &c)
{
    uint64_t sent_this_turn = 0;
    while (!c->core.closed && !c->done_sending) {
        if (file_stream_left(&c->core.stream) == 0) {
            file_finish(c);
            return;
        }
        uint64_t room = file_window_room(c.get());
        if (room == 0) {
            c->waiting_window = true;
            file_arm(c, c->core.ctx->options.stall_timeout_ms, "client stopped acknowledging");
            return;
        }
        long long n = file_stream_send(c->core.socket.native_handle(), &c->core.stream, room);
        if (n < 0) {
            file_close(c, "send failed");
            return;
        }
        if (n == 0) {
            c->waiting_writable = true;
            wait_writable(core_of(c), [c] {
                c->waiting_writable = false;
                file_stream_on(c);
            });
            return;
        }
        c->sent += static_cast<uint64_t>(n);
        sent_this_turn += static_cast<uint64_t>(n);
        if (sent_this_turn >= (4u << 20)) {
            asio::post(*c->core.ctx->io, [c] {
                if (!c->waiting_writable && !c->waiting_window)
                    file_stream_on(c);
            });
            return;
        }
    }
}

static void file_answer(const file_ptr &c, int32_t value)
{
    framed_packet packet;
    init_packet(&packet, nullptr, KIND_REQUEST, SUB_FILE, value, nullptr, 0);
    packet.reserved[0] = packet.reserved[1] = 0;
    encode_packet(&packet, c->answer, sizeof c->answer);
    write_answer(core_of(c), asio::buffer(c->answer), [c, value] {
        if (value != PACKET_ACCEPTED || file_stream_left(&c->core.stream) == 0) {
            file_read_acks(c);
            file_finish(c);
            return;
        }
        // The client's first receive must bring the answer alone.
        pace_answer(core_of(c), "answer not acknowledged", [c] {
            file_read_acks(c);
            file_stream_on(c);
        });
    });
}

static void file_handle_request(const file_ptr &c)
{
    ++c->core.ctx->counters.file_requests;
    // The file is opened once, from one version: never a mix of two inside one file.
    asio::error_code ignored;
    library_version version = version_for_client(
        &c->core.ctx->library, c->core.socket.remote_endpoint(ignored).address().to_string());
    const library_file *entry = find_library_file(version.get(), c->name);
    if (!entry) {
        refresh_version(version);
        entry = find_library_file(version.get(), c->name);
    }
    file_ref handle;
    uint64_t size = 0;
    if (!entry || !open_library_file(version.get(), *entry, &handle, &size)) {
        log_line(LOG_INFO, "file %s: refused %s", c->core.peer.c_str(), printable(c->name).c_str());
        file_answer(c, 0);
        return;
    }
    file_stream_start(&c->core.stream, handle, size);
    file_abort_on_close(c, true);
    log_line(LOG_DEBUG, "file %s: sending %s (%llu bytes)", c->core.peer.c_str(),
             entry->fs_name.c_str(), static_cast<unsigned long long>(size));
    file_answer(c, PACKET_ACCEPTED);
}

static void file_read_request(const file_ptr &c)
{
    file_arm(c, c->core.ctx->options.request_timeout_ms, "no request");
    asio::async_read(
        c->core.socket, asio::buffer(c->header), [c](const asio::error_code &ec, size_t) {
            if (c->core.closed)
                return;
            if (ec) {
                file_close(c, "no request");
                return;
            }
            unsigned body_length = (static_cast<unsigned>(c->header[41]) << 8) | c->header[42];
            if (c->header[31] != KIND_REQUEST || c->header[32] != SUB_FILE || body_length == 0 ||
                body_length > FILE_REQUEST_MAX_BODY) {
                log_line(LOG_INFO, "file %s: not a file request (kind %u/%u, body %u)",
                         c->core.peer.c_str(), c->header[31], c->header[32], body_length);
                file_answer(c, 0);
                return;
            }
            c->name.assign(body_length, '\0');
            asio::async_read(c->core.socket, asio::buffer(&c->name[0], body_length),
                             [c](const asio::error_code &body_ec, size_t) {
                                 if (c->core.closed)
                                     return;
                                 if (body_ec) {
                                     file_close(c, "request cut short");
                                     return;
                                 }
                                 file_handle_request(c);
                             });
        });
}

static void file_open(server_context *ctx, tcp::socket socket)
{
    auto c = std::make_shared<file_connection>(ctx, std::move(socket));
    if (admit_tcp_connection(core_of(c)))
        file_read_request(c);
}

void start_file_service(server_context *ctx, asio::ip::tcp::acceptor *acceptor)
{
    accept_tcp_connections(ctx, acceptor, &file_service);
}
