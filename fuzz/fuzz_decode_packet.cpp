// Received bytes decoded the two ways the client does: into decoder storage (stream transfer)
// and in place in a 65535-byte answer buffer (datagram session).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/packet_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65535)
        return 0;
    const int count = static_cast<int>(size);

    framed_packet own{};
    decode_packet(&own, data, count);
    if (count >= PACKET_HEADER_SIZE) {
        if (own.body_length > PACKET_MAX_BODY)
            std::abort();
        if (own.body_length > 0 && own.body[own.body_length] != 0)
            std::abort();
        if (own.malformed != (count < PACKET_HEADER_SIZE + own.body_length))
            std::abort();
        // What decoded re-encodes to the same header.
        std::vector<uint8_t> again(PACKET_HEADER_SIZE + own.body_length);
        int n = encode_packet(&own, again.data(), static_cast<uint16_t>(again.size()));
        if (n != static_cast<int>(again.size()))
            std::abort();
        if (std::memcmp(again.data(), data, 41) != 0 || again[43] != data[43])
            std::abort();
        if (own.body_length == ((data[41] << 8) | data[42]) &&
            std::memcmp(again.data() + 41, data + 41, 2) != 0)
            std::abort();
    }
    release_packet(&own);

    std::vector<uint8_t> buffer(65535, 0);
    std::memcpy(buffer.data(), data, size);
    framed_packet borrowed{};
    borrowed.body = buffer.data();
    decode_packet(&borrowed, buffer.data(), count);
    if (borrowed.owns_body)
        std::abort();
    release_packet(&borrowed);
    return 0;
}
