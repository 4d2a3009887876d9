// Any datagram can arrive where an acknowledgement is awaited.
#include <cstdint>
#include <cstdlib>

#include "core/ack_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int length = size > 64 ? 64 : static_cast<int>(size);
    int verdict = judge_ack(data, length);
    if (verdict < 0 || verdict > 255)
        std::abort();
    if (length != ACK_SIZE && verdict != ACK_REJECT)
        std::abort();
    if (length == ACK_SIZE) {
        uint8_t made[ACK_SIZE];
        make_ack(made, data[6]);
        if (judge_ack(made, ACK_SIZE) != data[6])
            std::abort();
    }
    return 0;
}
