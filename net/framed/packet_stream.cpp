// One framed packet over a connected TCP socket. The peer must deliver a packet whole in
// one receive; what else that receive brings is handed back rather than lost, because the
// file service may send a file's first bytes right behind its answer.
#include "net/framed/packet_stream.h"

#include <cstdlib>
#include <cstring>

#include "core/packet_codec.h"

int send_packet_stream(SOCKET s, const framed_packet *packet)
{
    if (packet == nullptr)
        return 0;
    int size = packet_size(packet);
    char *buffer = static_cast<char *>(std::calloc(1, static_cast<size_t>(size)));
    if (buffer == nullptr)
        return 0;
    int length =
        encode_packet(packet, reinterpret_cast<uint8_t *>(buffer), static_cast<uint16_t>(size));
    // A blocking send normally takes everything; carry on after a short one all the same.
    int sent = 0;
    while (sent < length) {
        int n = send(s, buffer + sent, length - sent, 0);
        if (n <= 0)
            break;
        sent += n;
    }
    std::free(buffer);
    return 0;
}

int receive_packet_stream(SOCKET s, framed_packet *packet, char *extra, int extra_capacity,
                          int *extra_count)
{
    if (extra_count != nullptr)
        *extra_count = 0;
    if (packet == nullptr)
        return -1;
    uint8_t *buffer = static_cast<uint8_t *>(std::calloc(1, PACKET_MAX_BODY));
    if (buffer == nullptr)
        return -1;
    packet->body_length = 0;
    int received = recv(s, reinterpret_cast<char *>(buffer), PACKET_MAX_BODY, 0);
    decode_packet(packet, buffer, received);

    if (received >= PACKET_HEADER_SIZE && extra != nullptr && extra_capacity > 0) {
        // The declared length straight from the wire: the decoder may have zeroed an
        // oversized one, and the bytes behind a declared body belong to that body.
        int declared = (buffer[41] << 8) | buffer[42];
        int end = PACKET_HEADER_SIZE + declared;
        if (received > end) {
            int count = received - end;
            if (count > extra_capacity)
                count = extra_capacity;
            std::memcpy(extra, buffer + end, static_cast<size_t>(count));
            if (extra_count != nullptr)
                *extra_count = count;
        }
    }
    std::free(buffer);
    return received;
}
