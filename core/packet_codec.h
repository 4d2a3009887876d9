// Building, sizing, encoding, decoding and releasing framed packets.
#pragma once
#include <cstdint>
#include "core/framed_packet.h"

void init_packet(framed_packet *packet, const char *name, uint8_t kind, uint8_t sub_kind,
                 int32_t value, const void *body, uint16_t body_length);
uint16_t packet_size(const framed_packet *packet);
// Bytes written (44 + body length), or 0 when packet is absent or capacity too small.
int encode_packet(const framed_packet *packet, uint8_t *out, uint16_t capacity);
// Fills packet from count received bytes. Fewer than 44 bytes: copied raw over the header
// start. A declared body longer than the bytes after the header copies only what arrived
// (the rest of the body is zero) and sets packet->malformed.
void decode_packet(framed_packet *packet, const uint8_t *bytes, int count);
void release_packet(framed_packet *packet);
