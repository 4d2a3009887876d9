// The framed packet: a 44-byte header (network byte order, no padding) and an optional body.
#pragma once
#include <cstdint>

enum {
    PACKET_HEADER_SIZE = 44,
    PACKET_NAME_SIZE = 30,
    PACKET_MAX_BODY = 32767,
    PACKET_START_MARKER = 0xA0,
    PACKET_END_MARKER = 0x0F,
    PACKET_ACCEPTED = 1000,
};

// Kinds and sub-kinds the client and server use.
enum {
    KIND_REQUEST = 4,
    SUB_FILE = 6,
    SUB_CATALOGUE = 7,
    SUB_PORT = 8,
    KIND_REFUSAL = 2,
    SUB_REFUSAL = 2,
};

struct framed_packet {
    uint8_t start_marker;
    char name[PACKET_NAME_SIZE];
    uint8_t kind;
    uint8_t sub_kind;
    uint8_t reserved[2];
    uint16_t word;         // host byte order
    int32_t value;         // host byte order
    uint16_t body_length;  // host byte order
    uint8_t end_marker;
    uint8_t *body;      // caller's storage, or decoder-allocated (owns_body set)
    uint8_t owns_body;  // 1 when decode_packet allocated body; release_packet frees only then
    uint8_t malformed;  // 1 when the declared body was longer than the bytes received
};
