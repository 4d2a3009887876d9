// The 8-byte acknowledgement: a first marker, a fixed signature, the code and a last marker.
#include "core/ack_datagram.h"

namespace {
const uint8_t ack_signature[5] = {0x88, 0x89, 0x8A, 0x8B, 0x8C};
enum { ACK_FIRST_MARKER = 0x03, ACK_LAST_MARKER = 0x30 };
}  // namespace

void make_ack(uint8_t out[ACK_SIZE], uint8_t code)
{
    if (!out)
        return;
    out[0] = ACK_FIRST_MARKER;
    for (int i = 0; i < 5; ++i)
        out[1 + i] = ack_signature[i];
    out[6] = code;
    out[7] = ACK_LAST_MARKER;
}

int judge_ack(const uint8_t *bytes, int length)
{
    if (!bytes || length != ACK_SIZE)
        return ACK_REJECT;
    // Only a datagram that carries both markers has its signature checked; peers send
    // unmarked 8-byte answers whose code must still count.
    if (bytes[0] == ACK_FIRST_MARKER && bytes[7] == ACK_LAST_MARKER) {
        for (int i = 0; i < 5; ++i)
            if (bytes[1 + i] != ack_signature[i])
                return ACK_REJECT;
    }
    return bytes[6];
}
