#include "server/datagram_service.h"

#include "core/ack_datagram.h"
#include "core/packet_codec.h"
#include "server/server_log.h"

using asio::ip::udp;

static std::vector<uint8_t> ack_bytes(uint8_t code)
{
    std::vector<uint8_t> ack(ACK_SIZE);
    make_ack(ack.data(), code);
    return ack;
}

static std::vector<uint8_t> answer_packet(uint8_t kind, uint8_t sub_kind, int32_t value,
                                          const std::string &body)
{
    framed_packet packet;
    init_packet(&packet, nullptr, kind, sub_kind, value, body.data(),
                static_cast<uint16_t>(body.size()));
    packet.reserved[0] = packet.reserved[1] = 0;
    std::vector<uint8_t> bytes(PACKET_HEADER_SIZE + body.size());
    encode_packet(&packet, bytes.data(), static_cast<uint16_t>(bytes.size()));
    return bytes;
}

std::vector<std::vector<uint8_t>> datagram_reply(datagram_service *service, const uint8_t *data,
                                                 size_t length, const udp::endpoint &sender)
{
    server_context *ctx = service->ctx;
    std::vector<std::vector<uint8_t>> out;
    if (length == ACK_SIZE) {
        // The client's acknowledgement of our answer: confirm it and close the exchange.
        auto open = service->pending.find(sender);
        if (open == service->pending.end() || judge_ack(data, ACK_SIZE) == ACK_REJECT) {
            ++ctx->counters.dropped_datagrams;
            log_line(LOG_DEBUG, "datagram %s: unexpected acknowledgement dropped",
                     endpoint_text(sender).c_str());
            return out;
        }
        service->pending.erase(open);
        out.push_back(ack_bytes(SERVER_ACK_CODE));
        return out;
    }
    unsigned body_length =
        length >= PACKET_HEADER_SIZE ? (static_cast<unsigned>(data[41]) << 8) | data[42] : 0;
    if (length < PACKET_HEADER_SIZE || body_length > DATAGRAM_MAX_REQUEST_BODY ||
        PACKET_HEADER_SIZE + body_length > length) {
        ++ctx->counters.dropped_datagrams;
        log_line(LOG_DEBUG, "datagram %s: malformed datagram of %zu bytes dropped",
                 endpoint_text(sender).c_str(), length);
        return out;
    }
    ++ctx->counters.datagram_requests;
    uint8_t kind = data[31], sub_kind = data[32];
    out.push_back(ack_bytes(SERVER_ACK_CODE));
    if (kind == KIND_REQUEST && sub_kind == SUB_CATALOGUE) {
        // Each catalogue request meets the library as it is now; the client's file requests
        // then come from the same version (see library_version.h).
        library_version version = current_library(&ctx->library);
        refresh_version(version);
        pin_version(&ctx->library, sender.address().to_string(), version);
        if (version->current.files.empty())
            out.push_back(answer_packet(KIND_REFUSAL, SUB_REFUSAL, 0, std::string()));
        else
            out.push_back(answer_packet(KIND_REQUEST, SUB_CATALOGUE, PACKET_ACCEPTED,
                                        framed_catalogue_body(version->current)));
    } else if (kind == KIND_REQUEST && sub_kind == SUB_PORT) {
        // Behind port forwarding clients must be told the outside port, not ours.
        int port = ctx->options.announce_port ? ctx->options.announce_port : ctx->options.file_port;
        out.push_back(answer_packet(KIND_REQUEST, SUB_PORT, port, std::string()));
    } else {
        log_line(LOG_DEBUG, "datagram %s: refusing kind %u/%u", endpoint_text(sender).c_str(), kind,
                 sub_kind);
        out.push_back(answer_packet(KIND_REFUSAL, SUB_REFUSAL, 0, std::string()));
    }
    // A retried request simply opens the exchange again. When the table is full some other
    // exchange is forgotten (cheaply: a flood must not make each datagram cost a scan); its
    // client misses our last reply and retries as it does for any lost datagram.
    if (service->pending.size() >= DATAGRAM_MAX_PENDING && !service->pending.count(sender))
        service->pending.erase(service->pending.begin());
    service->pending[sender] = std::chrono::steady_clock::now() +
                               std::chrono::milliseconds(ctx->options.exchange_timeout_ms);
    return out;
}

static void datagram_receive(datagram_service *service);

static void datagram_sweep(datagram_service *service)
{
    service->sweep->expires_after(std::chrono::seconds(1));
    service->sweep->async_wait([service](const asio::error_code &ec) {
        if (ec || !service->socket->is_open())
            return;
        auto now = std::chrono::steady_clock::now();
        for (auto it = service->pending.begin(); it != service->pending.end();) {
            if (it->second <= now) {
                log_line(LOG_DEBUG, "datagram %s: exchange abandoned",
                         endpoint_text(it->first).c_str());
                it = service->pending.erase(it);
            } else {
                ++it;
            }
        }
        datagram_sweep(service);
    });
}

static void datagram_receive(datagram_service *service)
{
    service->socket->async_receive_from(
        asio::buffer(service->buffer), service->sender,
        [service](const asio::error_code &ec, size_t n) {
            if (ec == asio::error::operation_aborted || !service->socket->is_open())
                return;
            if (!ec) {
                for (const std::vector<uint8_t> &datagram :
                     datagram_reply(service, service->buffer.data(), n, service->sender)) {
                    asio::error_code send_ec;
                    service->socket->send_to(asio::buffer(datagram), service->sender, 0, send_ec);
                    if (send_ec)
                        log_line(LOG_DEBUG, "datagram %s: send failed: %s",
                                 endpoint_text(service->sender).c_str(), send_ec.message().c_str());
                }
            } else {
                // Errors such as a port-unreachable report from an earlier send are not fatal.
                log_line(LOG_DEBUG, "datagram: receive error: %s", ec.message().c_str());
            }
            datagram_receive(service);
        });
}

void start_datagram_service(datagram_service *service, server_context *ctx, udp::socket *socket,
                            asio::steady_timer *sweep)
{
    service->ctx = ctx;
    service->socket = socket;
    service->sweep = sweep;
    service->buffer.assign(65536, 0);
    asio::error_code ec;
    socket->non_blocking(true, ec);
    datagram_receive(service);
    datagram_sweep(service);
}
