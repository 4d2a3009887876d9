// The 8-byte acknowledgement datagram of the framed protocol's datagram layer.
#pragma once
#include <cstdint>

enum { ACK_SIZE = 8, ACK_CONFIRM = 0, ACK_CLIENT = 1, ACK_REJECT = 3 };

// 03 88 89 8A 8B 8C code 30
void make_ack(uint8_t out[ACK_SIZE], uint8_t code);
// The acknowledgement's code, or 3 (reject) when malformed.
int judge_ack(const uint8_t *bytes, int length);
