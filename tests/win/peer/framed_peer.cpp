#include "framed_peer.h"

#include <cstring>

#include "core/ack_datagram.h"
#include "core/framed_packet.h"
#include "core/packet_codec.h"

namespace {
const uint8_t SERVER_ACK = 7;  // any code but a rejection is an acknowledgement
}  // namespace

bool answer_request(SOCKET s, const datagram &request, const std::vector<uint8_t> &answer,
                    SOCKET impostor)
{
    if (impostor != INVALID_SOCKET && request.bytes.size() >= PACKET_HEADER_SIZE) {
        send_datagram(impostor, request.from, ack_bytes(SERVER_ACK));
        send_datagram(
            impostor, request.from,
            packet_bytes(request.bytes[31], request.bytes[32], 1000, "evil.dll^|1^|1^|0^|0~|"));
    }
    send_datagram(s, request.from, ack_bytes(SERVER_ACK));
    send_datagram(s, request.from, answer);
    datagram ack;
    if (receive_datagram(s, &ack) < 0)
        return false;
    if (impostor != INVALID_SOCKET)
        send_datagram(impostor, ack.from, ack_bytes(ACK_REJECT));
    send_datagram(s, ack.from, ack_bytes(SERVER_ACK));
    return true;
}

bool serve_one(SOCKET s, const std::vector<uint8_t> &answer, datagram *request, SOCKET impostor)
{
    if (receive_datagram(s, request) < 0)
        return false;
    return answer_request(s, *request, answer, impostor);
}

bool read_file_request(SOCKET s, std::string *packet)
{
    char header[PACKET_HEADER_SIZE];
    if (receive_exactly(s, header, PACKET_HEADER_SIZE) != PACKET_HEADER_SIZE)
        return false;
    // The body's length is in header bytes 41 and 42, high byte first.
    int length = (static_cast<uint8_t>(header[41]) << 8) | static_cast<uint8_t>(header[42]);
    std::string body(static_cast<size_t>(length), '\0');
    receive_exactly(s, &body[0], length);
    *packet = std::string(header, PACKET_HEADER_SIZE) + body;
    return true;
}

namespace {

std::vector<uint8_t> answer_for(framed_peer *peer, const datagram &request)
{
    framed_packet decoded = {};
    decode_packet(&decoded, request.bytes.data(), static_cast<int>(request.bytes.size()));
    uint8_t kind = decoded.kind, sub_kind = decoded.sub_kind;
    release_packet(&decoded);
    if (kind == KIND_REQUEST && sub_kind == SUB_CATALOGUE) {
        if (peer->refuse_catalogue)
            return packet_bytes(KIND_REFUSAL, SUB_REFUSAL, 0);
        return packet_bytes(KIND_REQUEST, SUB_CATALOGUE, peer->catalogue_value,
                            peer->catalogue_body);
    }
    if (kind == KIND_REQUEST && sub_kind == SUB_PORT) {
        int port = peer->announced_port >= 0 ? peer->announced_port : peer->file_port;
        return packet_bytes(KIND_REQUEST, SUB_PORT, port);
    }
    return packet_bytes(KIND_REFUSAL, SUB_REFUSAL, 0);
}

void datagram_loop(framed_peer *peer)
{
    while (!peer->stopping) {
        datagram request;
        if (receive_datagram(peer->datagram_socket, &request) >= PACKET_HEADER_SIZE)
            answer_request(peer->datagram_socket, request, answer_for(peer, request));
    }
}

// Pieces of a network packet's size, as a server on a real network sends them.
bool send_file_bytes(SOCKET s, const char *data, size_t length)
{
    return send_pieces(s, data, length, 1500);
}

void serve_file(framed_peer *peer, SOCKET s)
{
    set_receive_timeout(s, 3000);
    std::string packet;
    if (!read_file_request(s, &packet))
        return;
    std::string name = packet.substr(PACKET_HEADER_SIZE);
    const framed_file_rule *rule = nullptr;
    {
        std::lock_guard<std::mutex> hold(peer->lock);
        peer->file_requests.push_back(name);
        for (const auto &r : peer->rules)
            if (r.name == name)
                rule = &r;
    }
    bool accepted = rule && rule->mode != framed_file_rule::REFUSE;
    std::vector<uint8_t> answer =
        packet_bytes(KIND_REQUEST, SUB_FILE, accepted ? PACKET_ACCEPTED : 0);
    send(s, (const char *)answer.data(), PACKET_HEADER_SIZE, 0);
    if (!accepted)
        return;
    Sleep(30);  // lets the answer arrive on its own
    const std::string &bytes = rule->bytes;
    if (rule->mode == framed_file_rule::CLOSE_HALFWAY) {
        send_file_bytes(s, bytes.data(), bytes.size() / 2);
        // An abortive close: the client sees the connection reset, not an orderly end.
        linger hard = {1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&hard, sizeof hard);
        return;
    }
    if (rule->mode == framed_file_rule::TRICKLE) {
        for (char byte : bytes) {
            Sleep(static_cast<DWORD>(peer->trickle_ms));
            if (peer->stopping || send(s, &byte, 1, 0) != 1)
                return;
        }
        shutdown(s, SD_SEND);
        return;
    }
    if (rule->mode == framed_file_rule::STALL) {
        send_file_bytes(s, bytes.data(), bytes.size() / 2);
        Sleep(2500);
        return;
    }
    send_file_bytes(s, bytes.data(), bytes.size());
    shutdown(s, SD_SEND);
    // Read the client's acknowledgements until it closes, so our close is an orderly one.
    set_receive_timeout(s, 2000);
    receive_all(s);
}

void file_loop(framed_peer *peer)
{
    for (;;) {
        SOCKET s = accept(peer->file_listener, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return;
        std::lock_guard<std::mutex> hold(peer->lock);
        peer->connections.emplace_back([peer, s]() {
            serve_file(peer, s);
            closesocket(s);
        });
    }
}

}  // namespace

void start_framed_peer(framed_peer *peer)
{
    peer->datagram_socket = udp_peer(&peer->datagram_port);
    set_receive_timeout(peer->datagram_socket, 200);  // looks at `stopping` this often
    peer->file_listener = tcp_listener(&peer->file_port);
    peer->datagram_thread = std::thread(datagram_loop, peer);
    peer->file_thread = std::thread(file_loop, peer);
}

void stop_framed_peer(framed_peer *peer)
{
    peer->stopping = true;
    closesocket(peer->file_listener);
    if (peer->file_thread.joinable())
        peer->file_thread.join();
    if (peer->datagram_thread.joinable())
        peer->datagram_thread.join();
    closesocket(peer->datagram_socket);
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> hold(peer->lock);
        connections.swap(peer->connections);
    }
    for (auto &t : connections)
        t.join();
}
