#include "server/server_context.h"

#include "server/server_log.h"

uint64_t admit_connection(server_context *ctx, std::function<void()> closer)
{
    if (ctx->stopping || ctx->open_connections >= ctx->options.max_connections) {
        ++ctx->counters.refused;
        return 0;
    }
    ++ctx->open_connections;
    uint64_t id = ctx->next_connection_id++;
    ctx->closers[id] = std::move(closer);
    return id;
}

void release_connection(server_context *ctx, uint64_t id)
{
    if (ctx->closers.erase(id))
        --ctx->open_connections;
}

std::string endpoint_text(const asio::ip::tcp::endpoint &endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

std::string endpoint_text(const asio::ip::udp::endpoint &endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}
