// The framed packet on the wire: 44 header bytes with no padding, numbers big-endian, then the
// body. The in-memory record is not the wire layout, so every field is written and read by its
// wire offset.
#include "core/packet_codec.h"

#include <cstdlib>
#include <cstring>

namespace {

enum {
    OFFSET_START = 0,
    OFFSET_NAME = 1,
    OFFSET_KIND = 31,
    OFFSET_SUB_KIND = 32,
    OFFSET_RESERVED = 33,
    OFFSET_WORD = 35,
    OFFSET_VALUE = 37,
    OFFSET_BODY_LENGTH = 41,
    OFFSET_END = 43,
};

void put16(uint8_t *out, uint16_t v)
{
    out[0] = static_cast<uint8_t>(v >> 8);
    out[1] = static_cast<uint8_t>(v);
}

void put32(uint8_t *out, uint32_t v)
{
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

uint16_t get16(const uint8_t *in)
{
    return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

uint32_t get32(const uint8_t *in)
{
    return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
           (static_cast<uint32_t>(in[2]) << 8) | in[3];
}

// The byte of the record that holds header byte `offset` when the header is laid over the
// record as it arrived: numbers keep the received byte order, i.e. the first byte on the wire
// lands in the field's first byte in memory.
uint8_t *header_byte(framed_packet *packet, int offset)
{
    if (offset == OFFSET_START)
        return &packet->start_marker;
    if (offset < OFFSET_KIND)
        return reinterpret_cast<uint8_t *>(&packet->name[offset - OFFSET_NAME]);
    if (offset == OFFSET_KIND)
        return &packet->kind;
    if (offset == OFFSET_SUB_KIND)
        return &packet->sub_kind;
    if (offset < OFFSET_WORD)
        return &packet->reserved[offset - OFFSET_RESERVED];
    if (offset < OFFSET_VALUE)
        return reinterpret_cast<uint8_t *>(&packet->word) + (offset - OFFSET_WORD);
    if (offset < OFFSET_BODY_LENGTH)
        return reinterpret_cast<uint8_t *>(&packet->value) + (offset - OFFSET_VALUE);
    if (offset < OFFSET_END)
        return reinterpret_cast<uint8_t *>(&packet->body_length) + (offset - OFFSET_BODY_LENGTH);
    return &packet->end_marker;
}

}  // namespace

void init_packet(framed_packet *packet, const char *name, uint8_t kind, uint8_t sub_kind,
                 int32_t value, const void *body, uint16_t body_length)
{
    if (!packet)
        return;
    packet->start_marker = PACKET_START_MARKER;
    packet->end_marker = PACKET_END_MARKER;
    packet->word = 0;
    // Bytes that carry no meaning go out as zeros rather than whatever the record held.
    std::memset(packet->name, 0, sizeof packet->name);
    packet->reserved[0] = packet->reserved[1] = 0;
    if (name) {
        size_t length = 0;
        while (length < PACKET_NAME_SIZE && name[length])
            ++length;
        std::memcpy(packet->name, name, length);
    }
    packet->kind = kind;
    packet->sub_kind = sub_kind;
    packet->value = value;
    packet->body = static_cast<uint8_t *>(const_cast<void *>(body));
    packet->body_length = body_length;
    packet->owns_body = 0;
    packet->malformed = 0;
}

uint16_t packet_size(const framed_packet *packet)
{
    if (!packet)
        return 0;
    return static_cast<uint16_t>(PACKET_HEADER_SIZE + packet->body_length);
}

int encode_packet(const framed_packet *packet, uint8_t *out, uint16_t capacity)
{
    if (!packet || !out)
        return 0;
    // Lengths beyond the codec's limit would wrap the 16-bit size; a body length without a
    // body has nothing to copy.
    if (packet->body_length > PACKET_MAX_BODY)
        return 0;
    if (packet->body_length > 0 && !packet->body)
        return 0;
    int size = PACKET_HEADER_SIZE + packet->body_length;
    if (size > capacity)
        return 0;

    out[OFFSET_START] = packet->start_marker;
    std::memcpy(out + OFFSET_NAME, packet->name, PACKET_NAME_SIZE);
    out[OFFSET_KIND] = packet->kind;
    out[OFFSET_SUB_KIND] = packet->sub_kind;
    out[OFFSET_RESERVED] = packet->reserved[0];
    out[OFFSET_RESERVED + 1] = packet->reserved[1];
    put16(out + OFFSET_WORD, packet->word);
    put32(out + OFFSET_VALUE, static_cast<uint32_t>(packet->value));
    put16(out + OFFSET_BODY_LENGTH, packet->body_length);
    out[OFFSET_END] = packet->end_marker;
    if (packet->body_length > 0)
        std::memmove(out + PACKET_HEADER_SIZE, packet->body, packet->body_length);
    return size;
}

void decode_packet(framed_packet *packet, const uint8_t *bytes, int count)
{
    if (!bytes || count <= 0 || !packet)
        return;

    if (count < PACKET_HEADER_SIZE) {
        // A short datagram is laid over the header start unconverted; the rest stays as it
        // was. It cannot be a whole packet, so it is marked for the caller.
        for (int i = 0; i < count; ++i)
            *header_byte(packet, i) = bytes[i];
        packet->malformed = 1;
        return;
    }

    packet->start_marker = bytes[OFFSET_START];
    std::memcpy(packet->name, bytes + OFFSET_NAME, PACKET_NAME_SIZE);
    packet->kind = bytes[OFFSET_KIND];
    packet->sub_kind = bytes[OFFSET_SUB_KIND];
    packet->reserved[0] = bytes[OFFSET_RESERVED];
    packet->reserved[1] = bytes[OFFSET_RESERVED + 1];
    packet->word = get16(bytes + OFFSET_WORD);
    packet->value = static_cast<int32_t>(get32(bytes + OFFSET_VALUE));
    packet->body_length = get16(bytes + OFFSET_BODY_LENGTH);
    packet->end_marker = bytes[OFFSET_END];
    packet->malformed = 0;

    // A body this decoder allocated earlier is sized for the earlier packet; start afresh.
    if (packet->owns_body == 1 && packet->body) {
        std::free(packet->body);
        packet->body = nullptr;
    }
    packet->owns_body = 0;

    if (!packet->body) {
        if (packet->body_length >= PACKET_MAX_BODY) {
            packet->body_length = 0;
        } else {
            packet->body = static_cast<uint8_t *>(std::calloc(packet->body_length + 1u, 1));
            if (!packet->body) {
                packet->body_length = 0;
                packet->malformed = 1;
                return;
            }
            packet->owns_body = 1;
        }
    }
    if (packet->body_length > PACKET_MAX_BODY)
        packet->body_length = 0;

    if (packet->body_length > 0) {
        int received = count - PACKET_HEADER_SIZE;
        int wanted = packet->body_length;
        int copied = received < wanted ? received : wanted;
        // Source and body may overlap when the caller decodes its receive buffer in place.
        std::memmove(packet->body, bytes + PACKET_HEADER_SIZE, static_cast<size_t>(copied));
        if (copied < wanted) {
            std::memset(packet->body + copied, 0, static_cast<size_t>(wanted - copied));
            packet->malformed = 1;
        }
        packet->body[wanted] = 0;
    }
}

void release_packet(framed_packet *packet)
{
    if (!packet)
        return;
    if (packet->owns_body == 1)
        std::free(packet->body);
    packet->body = nullptr;
    packet->body_length = 0;
    packet->owns_body = 0;
}
