#include "framed_peer.h"
#include <cstring>
#include "net/framed/ack_datagram.h"
#include "net/framed/framed_packet.h"
#include "net/framed/packet_codec.h"

namespace {

void set_receive_timeout(SOCKET s, DWORD ms)
{
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&ms, sizeof ms);
}

void send_ack(SOCKET s, const sockaddr_in &to, uint8_t code)
{
    uint8_t ack[ACK_SIZE];
    make_ack(ack, code);
    sendto(s, (const char *)ack, ACK_SIZE, 0, (const sockaddr *)&to, sizeof to);
}

void answer_datagram(framed_peer *peer, const uint8_t *bytes, int count, const sockaddr_in &from)
{
    framed_packet request = {};
    decode_packet(&request, bytes, count);
    uint8_t kind = request.kind, sub_kind = request.sub_kind;
    release_packet(&request);

    send_ack(peer->datagram, from, 2);
    framed_packet answer = {};
    if (kind == KIND_REQUEST && sub_kind == SUB_CATALOGUE) {
        if (peer->refuse_catalogue)
            init_packet(&answer, "", KIND_REFUSAL, SUB_REFUSAL, 0, nullptr, 0);
        else
            init_packet(&answer, "", KIND_REQUEST, SUB_CATALOGUE, peer->catalogue_value,
                        peer->catalogue_body.data(), (uint16_t)peer->catalogue_body.size());
    } else if (kind == KIND_REQUEST && sub_kind == SUB_PORT) {
        int port = peer->announced_port >= 0 ? peer->announced_port : peer->file_port;
        init_packet(&answer, "", KIND_REQUEST, SUB_PORT, port, nullptr, 0);
    } else {
        init_packet(&answer, "", KIND_REFUSAL, SUB_REFUSAL, 0, nullptr, 0);
    }
    static uint8_t encoded[65536];
    int size = encode_packet(&answer, encoded, 65535);
    sendto(peer->datagram, (const char *)encoded, size, 0, (const sockaddr *)&from, sizeof from);
    // The client acknowledges the answer and waits for our reply to that.
    uint8_t ack[64];
    sockaddr_in ack_from = {};
    int length = sizeof ack_from;
    int got = recvfrom(peer->datagram, (char *)ack, sizeof ack, 0, (sockaddr *)&ack_from, &length);
    if (got == ACK_SIZE)
        send_ack(peer->datagram, ack_from, 2);
}

void datagram_loop(framed_peer *peer)
{
    uint8_t buffer[65536];
    while (!peer->stopping) {
        sockaddr_in from = {};
        int length = sizeof from;
        int got =
            recvfrom(peer->datagram, (char *)buffer, sizeof buffer, 0, (sockaddr *)&from, &length);
        if (got >= PACKET_HEADER_SIZE)
            answer_datagram(peer, buffer, got, from);
    }
}

void send_all_bytes(SOCKET s, const char *data, size_t length)
{
    while (length > 0) {
        int sent = send(s, data, (int)(length > 1500 ? 1500 : length), 0);
        if (sent <= 0)
            return;
        data += sent;
        length -= (size_t)sent;
    }
}

void serve_file(framed_peer *peer, SOCKET s)
{
    set_receive_timeout(s, 3000);
    uint8_t buffer[4096];
    int got = recv(s, (char *)buffer, sizeof buffer, 0);
    if (got < PACKET_HEADER_SIZE)
        return;
    framed_packet request = {};
    decode_packet(&request, buffer, got);
    std::string name(request.body ? (const char *)request.body : "", request.body_length);
    release_packet(&request);
    const framed_file_rule *rule = nullptr;
    {
        std::lock_guard<std::mutex> hold(peer->lock);
        peer->file_requests.push_back(name);
        for (const auto &r : peer->rules)
            if (r.name == name)
                rule = &r;
    }
    framed_packet answer = {};
    bool accepted = rule && rule->mode != framed_file_rule::REFUSE;
    init_packet(&answer, "", KIND_REQUEST, SUB_FILE, accepted ? PACKET_ACCEPTED : 0, nullptr, 0);
    uint8_t encoded[PACKET_HEADER_SIZE];
    encode_packet(&answer, encoded, sizeof encoded);
    send(s, (const char *)encoded, PACKET_HEADER_SIZE, 0);
    if (!accepted)
        return;
    Sleep(30);  // lets the answer arrive on its own
    const std::string &bytes = rule->bytes;
    if (rule->mode == framed_file_rule::CLOSE_HALFWAY) {
        send_all_bytes(s, bytes.data(), bytes.size() / 2);
        // An abortive close: the client sees the connection reset, not an orderly end.
        linger hard = {1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&hard, sizeof hard);
        return;
    }
    if (rule->mode == framed_file_rule::STALL) {
        send_all_bytes(s, bytes.data(), bytes.size() / 2);
        Sleep(2500);
        return;
    }
    send_all_bytes(s, bytes.data(), bytes.size());
    shutdown(s, SD_SEND);
    // Read the client's acknowledgements until it closes, so our close is an orderly one.
    set_receive_timeout(s, 2000);
    char sink[4096];
    while (recv(s, sink, sizeof sink, 0) > 0) {}
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
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;

    peer->datagram = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    bind(peer->datagram, (sockaddr *)&address, sizeof address);
    getsockname(peer->datagram, (sockaddr *)&address, &length);
    peer->datagram_port = ntohs(address.sin_port);
    set_receive_timeout(peer->datagram, 200);

    address.sin_port = 0;
    length = sizeof address;
    peer->file_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bind(peer->file_listener, (sockaddr *)&address, sizeof address);
    listen(peer->file_listener, 8);
    getsockname(peer->file_listener, (sockaddr *)&address, &length);
    peer->file_port = ntohs(address.sin_port);

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
    closesocket(peer->datagram);
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> hold(peer->lock);
        connections.swap(peer->connections);
    }
    for (auto &t : connections)
        t.join();
}
