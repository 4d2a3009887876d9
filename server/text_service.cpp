#include "server/text_service.h"

#include <array>
#include <memory>

#include "core/text_protocol.h"
#include "server/file_stream.h"
#include "server/server_log.h"
#include "server/tcp_service.h"

using asio::ip::tcp;


static void text_open(server_context *ctx, tcp::socket socket);

// At the cap a client is told so before the close, NUL-terminated like every answer.
static const tcp_service text_service = {
    "text", true, std::string(TEXT_ANSWER_REFUSED) + "server busy" + '\0', text_open};

struct text_connection {
    tcp_connection core;
    std::string pending;  // received bytes that hold no complete request yet
    std::array<char, 1024> chunk;
    std::string answer;
    library_version version;  // met at connection: one connection, one library version
    bool busy = false;        // answering a request; further requests wait in pending
    bool spoke = false;       // a first request arrived; only then may it rest longer

    text_connection(server_context *c, tcp::socket s) : core(c, &text_service, std::move(s)) {}
};
using text_ptr = std::shared_ptr<text_connection>;

static void text_read(const text_ptr &c);
static void text_process(const text_ptr &c);

static void text_close(const text_ptr &c, const char *why)
{
    close_tcp_connection(c->core, why);
}

static void text_arm(const text_ptr &c, int ms, const char *why)
{
    arm_deadline(core_of(c), ms, why);
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
    file_stream_close(&c->core.stream);
    text_process(c);
}

static void text_stream(const text_ptr &c)
{
    uint64_t sent_this_turn = 0;
    while (!c->core.closed) {
        if (file_stream_left(&c->core.stream) == 0) {
            text_finish_request(c);
            return;
        }
        long long n = file_stream_send(c->core.socket.native_handle(), &c->core.stream, 1u << 20);
        if (n < 0) {
            log_line(LOG_INFO, "text %s: sending failed", c->core.peer.c_str());
            text_close(c, "send failed");
            return;
        }
        if (n == 0) {
            wait_writable(core_of(c), [c] { text_stream(c); });
            return;
        }
        sent_this_turn += static_cast<uint64_t>(n);
        if (sent_this_turn >= (4u << 20)) {
            // Let other clients have the thread before going on.
            asio::post(*c->core.ctx->io, [c] { text_stream(c); });
            return;
        }
    }
}

static void text_write_answer(const text_ptr &c, bool then_stream)
{
    write_answer(core_of(c), asio::buffer(c->answer), [c, then_stream] {
        if (!then_stream) {
            text_finish_request(c);
            return;
        }
        // The client takes its first receive as the whole answer: let it collect the answer
        // before any file byte follows.
        pace_answer(core_of(c), "answer not delivered", [c] { text_stream(c); });
    });
}

static void text_handle(const text_ptr &c, const std::string &request)
{
    ++c->core.ctx->counters.text_requests;
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
            file_stream_start(&c->core.stream, handle, size);
            answer = TEXT_ANSWER_OK + file->wire_name + TEXT_RECORD_SEPARATOR +
                     std::to_string(TEXT_RECEIVE_SIZE) + TEXT_RECORD_SEPARATOR +
                     std::to_string(size);
        }
    }
    log_line(LOG_DEBUG, "text %s: %s -> %s", c->core.peer.c_str(), printable(request).c_str(),
             printable(answer).c_str());
    c->answer = answer;
    c->answer.push_back('\0');  // the client reads the answer as a NUL-terminated text
    text_write_answer(c, file != nullptr && c->core.stream.end > 0);
}

static void text_process(const text_ptr &c)
{
    if (c->core.closed || c->busy)
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
        log_line(LOG_INFO, "text %s: request too long, closing", c->core.peer.c_str());
        c->answer = std::string(TEXT_ANSWER_REFUSED) + "request too long";
        c->answer.push_back('\0');
        asio::async_write(
            c->core.socket, asio::buffer(c->answer),
            [c](const asio::error_code &, size_t) { text_close(c, "request too long"); });
        text_arm(c, c->core.ctx->options.stall_timeout_ms, "client stopped reading");
        return;
    }
    if (c->pending.empty() && c->spoke)
        text_arm(c, c->core.ctx->options.idle_timeout_ms, "idle");
    else
        text_arm(c, c->core.ctx->options.request_timeout_ms, "request incomplete");
    text_read(c);
}

static void text_read(const text_ptr &c)
{
    read_some(
        core_of(c), asio::buffer(c->chunk),
        [c](size_t n) {
            c->pending.append(c->chunk.data(), n);
            text_process(c);
        },
        [c](const asio::error_code &ec) {
            text_close(c, ec == asio::error::eof ? "client closed" : "read failed");
        });
}

static void text_open(server_context *ctx, tcp::socket socket)
{
    auto c = std::make_shared<text_connection>(ctx, std::move(socket));
    if (!admit_tcp_connection(core_of(c)))
        return;
    c->version = current_library(&ctx->library);
    log_line(LOG_DEBUG, "text %s: connected", c->core.peer.c_str());
    text_process(c);
}

void start_text_service(server_context *ctx, asio::ip::tcp::acceptor *acceptor)
{
    accept_tcp_connections(ctx, acceptor, &text_service);
}
