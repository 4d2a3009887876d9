#include "server/server.h"

#include "server/datagram_service.h"
#include "server/file_service.h"
#include "server/platform_process.h"
#include "server/server_log.h"
#include "server/text_service.h"

using asio::ip::tcp;
using asio::ip::udp;

struct server_instance {
    server_context ctx;
    tcp::acceptor text_acceptor;
    tcp::acceptor file_acceptor;
    udp::socket datagram_socket;
    asio::steady_timer sweep;
    datagram_service datagrams;

    explicit server_instance(asio::io_context &io)
        : text_acceptor(io), file_acceptor(io), datagram_socket(io), sweep(io)
    {}
};

static bool open_acceptor(tcp::acceptor *acceptor, const tcp::endpoint &endpoint,
                          std::string *error)
{
    asio::error_code ec;
    acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor->bind(endpoint, ec);
    if (!ec)
        acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "cannot listen on TCP " + endpoint_text(endpoint) + ": " + ec.message();
        asio::error_code ignored;
        acceptor->close(ignored);
        return false;
    }
    return true;
}

static bool open_datagram(udp::socket *socket, const udp::endpoint &endpoint, std::string *error)
{
    asio::error_code ec;
    socket->open(endpoint.protocol(), ec);
    if (!ec)
        socket->bind(endpoint, ec);
    if (!ec) {
        // Many clients asking at once must not overflow the queue: each lost request costs
        // its client a whole retry time-out.
        asio::error_code ignored;
        socket->set_option(asio::socket_base::receive_buffer_size(4 << 20), ignored);
    }
    if (ec) {
        *error = "cannot bind UDP " + endpoint_text(endpoint) + ": " + ec.message();
        asio::error_code ignored;
        socket->close(ignored);
        return false;
    }
    return true;
}

std::shared_ptr<server_instance> start_server(asio::io_context &io, const server_options &options,
                                              server_ports *ports, std::string *error)
{
    ignore_broken_pipe();
    auto server = std::make_shared<server_instance>(io);
    server_context &ctx = server->ctx;
    ctx.io = &io;
    ctx.options = options;
    if (!open_library_versions(&ctx.library, options.root, error))
        return nullptr;
    if (ctx.library.current->current.files.empty())
        log_line(LOG_WARN, "library folder %s holds no files yet", options.root.c_str());

    asio::error_code ec;
    asio::ip::address address = asio::ip::make_address(options.bind_address, ec);
    if (ec) {
        *error = "--bind " + options.bind_address + " is not an IP address";
        return nullptr;
    }
    // The text port and the datagram port share one number; with port 0 take the number the
    // system picks for TCP and retry when UDP has it in use.
    bool bound = false;
    for (int attempt = 0; attempt < 20 && !bound; ++attempt) {
        if (!open_acceptor(&server->text_acceptor, tcp::endpoint(address, options.port), error))
            return nullptr;
        int port = server->text_acceptor.local_endpoint(ec).port();
        if (open_datagram(&server->datagram_socket, udp::endpoint(address, port), error)) {
            bound = true;
        } else {
            server->text_acceptor.close(ec);
            if (options.port != 0)
                return nullptr;
        }
    }
    if (!bound)
        return nullptr;
    if (!open_acceptor(&server->file_acceptor, tcp::endpoint(address, options.file_port), error))
        return nullptr;
    ports->text = server->text_acceptor.local_endpoint(ec).port();
    ports->file = server->file_acceptor.local_endpoint(ec).port();
    ctx.options.port = ports->text;
    ctx.options.file_port = ports->file;  // the port request announces the real one

    start_text_service(&ctx, &server->text_acceptor);
    start_file_service(&ctx, &server->file_acceptor);
    start_datagram_service(&server->datagrams, &ctx, &server->datagram_socket, &server->sweep);
    log_line(LOG_INFO, "serving %zu files from %s on %s (text/datagram %d, files %d)",
             ctx.library.current->current.files.size(), ctx.library.current->root.c_str(),
             options.bind_address.c_str(), ports->text, ports->file);
    if (options.announce_port)
        log_line(LOG_INFO, "telling clients to fetch files from port %d", options.announce_port);
    return server;
}

void stop_server(server_instance *server)
{
    server_context &ctx = server->ctx;
    if (ctx.stopping)
        return;
    ctx.stopping = true;
    asio::error_code ec;
    server->text_acceptor.close(ec);
    server->file_acceptor.close(ec);
    server->datagram_socket.close(ec);
    server->sweep.cancel();
    // Closing a connection unregisters it, so work on a copy.
    std::map<uint64_t, std::function<void()>> closers = ctx.closers;
    for (auto &entry : closers)
        entry.second();
    log_line(LOG_INFO, "stopped after %llu text, %llu datagram and %llu file requests",
             static_cast<unsigned long long>(ctx.counters.text_requests),
             static_cast<unsigned long long>(ctx.counters.datagram_requests),
             static_cast<unsigned long long>(ctx.counters.file_requests));
}

server_context *server_state(server_instance *server)
{
    return &server->ctx;
}
