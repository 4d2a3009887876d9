#include "server/text_service.h"

#include <array>
#include <memory>

#include "core/text_protocol.h"
#include "server/answer_pacing.h"
#include "server/connection_lifetime.h"
#include "server/file_stream.h"
#include "server/server_log.h"

using asio::ip::tcp;

struct text_connection {
    server_context *ctx;
    tcp::socket socket;
    asio::steady_timer deadline;
    asio::steady_timer gap;
    uint64_t id = 0;
    std::string peer;
    std::string pending;  // received bytes that hold no complete request yet
    std::array<char, 1024> chunk;
    std::string answer;
    file_stream stream;
    library_version version;  // met at connection: one connection, one library version
    unsigned deadline_generation = 0;
    bool busy = false;   // answering a request; further requests wait in pending
    bool spoke = false;  // a first request arrived; only then may it rest longer
    bool closed = false;

    explicit text_connection(server_context *c, tcp::socket s)
        : ctx(c), socket(std::move(s)), deadline(*c->io), gap(*c->io)
    {}
};
using text_ptr = std::shared_ptr<text_connection>;

static void text_read(const text_ptr &c);
static void text_process(const text_ptr &c);

static void text_close(const text_ptr &c, const char *why)
{
    close_connection(*c, "text", why, true);
}

static void text_arm(const text_ptr &c, int ms, const char *why)
{
    arm_deadline(c, ms, "text", why, text_close);
}

// The answer to one complete request (without its NUL). For a file request whose name is in
// the catalogue, *file is set instead and the caller answers once the file is open.
static std::string text_answer(const library_version &version, const std::string &request,
                               const library_file **file)
{
    *file = nullptr;
    if (request == TEXT_REQUEST_CATALOGUE) {
        refresh_version(version);
        if (version->current.files.empty())
            return std::string(TEXT_ANSWER_REFUSED) + "library is empty";
        return TEXT_ANSWER_OK + version->current.text;
    }
    if (request.compare(0, TEXT_REQUEST_FILE_LENGTH, TEXT_REQUEST_FILE) == 0) {
        std::string name = request.substr(TEXT_REQUEST_FILE_LENGTH);
        const library_file *entry = find_library_file(version.get(), name);
        if (!entry) {
            // A file added since the last catalogue request is served all the same.
            refresh_version(version);
            entry = find_library_file(version.get(), name);
        }
        if (!entry)
            return std::string(TEXT_ANSWER_REFUSED) + "no such file";
        *file = entry;
        return std::string();  // the caller builds the answer once the file is open
    }
    return std::string(TEXT_ANSWER_REFUSED) + "unknown request";
}

static void text_finish_request(const text_ptr &c)
{
    c->busy = false;
    file_stream_close(&c->stream);
    text_process(c);
}

static void text_stream(const text_ptr &c)
{
    uint64_t sent_this_turn = 0;
    while (!c->closed) {
        if (file_stream_left(&c->stream) == 0) {
            text_finish_request(c);
            return;
        }
        long long n = file_stream_send(c->socket.native_handle(), &c->stream, 1u << 20);
        if (n < 0) {
            log_line(LOG_INFO, "text %s: sending failed", c->peer.c_str());
            text_close(c, "send failed");
            return;
        }
        if (n == 0) {
            text_arm(c, c->ctx->options.stall_timeout_ms, "client stopped reading");
            c->socket.async_wait(tcp::socket::wait_write, [c](const asio::error_code &ec) {
                if (c->closed)
                    return;
                if (ec) {
                    text_close(c, "wait failed");
                    return;
                }
                text_stream(c);
            });
            return;
        }
        sent_this_turn += static_cast<uint64_t>(n);
        if (sent_this_turn >= (4u << 20)) {
            // Let other clients have the thread before going on.
            asio::post(*c->ctx->io, [c] { text_stream(c); });
            return;
        }
    }
}

static void text_write_answer(const text_ptr &c, bool then_stream)
{
    text_arm(c, c->ctx->options.stall_timeout_ms, "client stopped reading");
    asio::async_write(c->socket, asio::buffer(c->answer),
                      [c, then_stream](const asio::error_code &ec, size_t) {
                          if (c->closed)
                              return;
                          if (ec) {
                              text_close(c, "write failed");
                              return;
                          }
                          if (!then_stream) {
                              text_finish_request(c);
                              return;
                          }
                          // The client takes its first receive as the whole answer: let it
                          // collect the answer before any file byte follows.
                          const server_options &options = c->ctx->options;
                          pace_after_answer(
                              c->socket, c->gap, options.answer_gap_ms, options.stall_timeout_ms,
                              [c](bool delivered) {
                                  if (c->closed)
                                      return;
                                  if (!delivered) {
                                      text_close(c, "answer not delivered");
                                      return;
                                  }
                                  text_stream(c);
                              },
                              options.answer_wait_ack);
                      });
}

static void text_handle(const text_ptr &c, const std::string &request)
{
    ++c->ctx->counters.text_requests;
    c->busy = true;
    c->spoke = true;
    const library_file *file = nullptr;
    std::string answer = text_answer(c->version, request, &file);
    if (file) {
        uint64_t size = 0;
        file_ref handle;
        if (!open_library_file(c->version.get(), *file, &handle, &size)) {
            answer = std::string(TEXT_ANSWER_REFUSED) + "file cannot be read";
            file = nullptr;
        } else {
            file_stream_start(&c->stream, handle, size);
            answer = TEXT_ANSWER_OK + file->wire_name + TEXT_RECORD_SEPARATOR +
                     std::to_string(TEXT_RECEIVE_SIZE) + TEXT_RECORD_SEPARATOR +
                     std::to_string(size);
        }
    }
    log_line(LOG_DEBUG, "text %s: %s -> %s", c->peer.c_str(), printable(request).c_str(),
             printable(answer).c_str());
    c->answer = answer;
    c->answer.push_back('\0');  // the client reads the answer as a NUL-terminated text
    text_write_answer(c, file != nullptr && c->stream.end > 0);
}

static void text_process(const text_ptr &c)
{
    if (c->closed || c->busy)
        return;
    for (;;) {
        size_t nul = c->pending.find('\0');
        if (nul == std::string::npos)
            break;
        std::string request = c->pending.substr(0, nul);
        c->pending.erase(0, nul + 1);
        if (request.empty())
            continue;  // a stray NUL is no request; answering it would shift later answers
        if (request.size() > TEXT_MAX_REQUEST) {
            c->answer = std::string(TEXT_ANSWER_REFUSED) + "request too long";
            c->answer.push_back('\0');
            c->busy = true;
            text_write_answer(c, false);
            return;
        }
        text_handle(c, request);
        return;
    }
    if (c->pending.size() > TEXT_MAX_REQUEST) {
        // No NUL in sight: this is not a client of ours. Say so and hang up.
        log_line(LOG_INFO, "text %s: request too long, closing", c->peer.c_str());
        c->answer = std::string(TEXT_ANSWER_REFUSED) + "request too long";
        c->answer.push_back('\0');
        asio::async_write(
            c->socket, asio::buffer(c->answer),
            [c](const asio::error_code &, size_t) { text_close(c, "request too long"); });
        text_arm(c, c->ctx->options.stall_timeout_ms, "client stopped reading");
        return;
    }
    if (c->pending.empty() && c->spoke)
        text_arm(c, c->ctx->options.idle_timeout_ms, "idle");
    else
        text_arm(c, c->ctx->options.request_timeout_ms, "request incomplete");
    text_read(c);
}

static void text_read(const text_ptr &c)
{
    c->socket.async_read_some(asio::buffer(c->chunk), [c](const asio::error_code &ec, size_t n) {
        if (c->closed)
            return;
        if (ec) {
            text_close(c, ec == asio::error::eof ? "client closed" : "read failed");
            return;
        }
        c->pending.append(c->chunk.data(), n);
        text_process(c);
    });
}

static void text_accept(server_context *ctx, tcp::acceptor *acceptor)
{
    acceptor->async_accept([ctx, acceptor](const asio::error_code &ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor->is_open())
            return;
        if (!ec) {
            auto c = std::make_shared<text_connection>(ctx, std::move(socket));
            asio::error_code ignored;
            c->peer = endpoint_text(c->socket.remote_endpoint(ignored));
            std::weak_ptr<text_connection> weak = c;
            c->id = admit_connection(ctx, [weak] {
                if (auto strong = weak.lock())
                    text_close(strong, "server stopping");
            });
            if (!c->id) {
                log_line(LOG_WARN, "text %s: connection cap reached, refusing", c->peer.c_str());
                c->answer = std::string(TEXT_ANSWER_REFUSED) + "server busy";
                c->answer.push_back('\0');
                c->socket.non_blocking(true, ignored);
                c->socket.send(asio::buffer(c->answer), 0, ignored);
                c->socket.close(ignored);
                c->closed = true;
            } else {
                c->socket.set_option(tcp::no_delay(true), ignored);
                c->socket.non_blocking(true, ignored);
                c->version = current_library(&ctx->library);
                log_line(LOG_DEBUG, "text %s: connected", c->peer.c_str());
                text_process(c);
            }
        } else {
            // Out of descriptors and the like: pause instead of spinning on the error.
            log_line(LOG_WARN, "text: accept failed: %s", ec.message().c_str());
            auto pause =
                std::make_shared<asio::steady_timer>(*ctx->io, std::chrono::milliseconds(100));
            pause->async_wait([ctx, acceptor, pause](const asio::error_code &) {
                if (acceptor->is_open())
                    text_accept(ctx, acceptor);
            });
            return;
        }
        text_accept(ctx, acceptor);
    });
}

void start_text_service(server_context *ctx, asio::ip::tcp::acceptor *acceptor)
{
    text_accept(ctx, acceptor);
}
