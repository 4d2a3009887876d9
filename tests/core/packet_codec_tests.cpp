#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/ack_datagram.h"
#include "core/packet_codec.h"

namespace {

std::vector<uint8_t> encode(const framed_packet &packet, int capacity = 65535)
{
    std::vector<uint8_t> out(static_cast<size_t>(capacity), 0xEE);
    int n = encode_packet(&packet, out.data(), static_cast<uint16_t>(capacity));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

// An answer header as a server sends it, with the given declared body length.
std::vector<uint8_t> answer_header(uint8_t kind, uint8_t sub_kind, int32_t value,
                                   uint16_t body_length)
{
    framed_packet packet{};
    init_packet(&packet, "srv", kind, sub_kind, value, nullptr, 0);
    std::vector<uint8_t> bytes = encode(packet);
    bytes[41] = static_cast<uint8_t>(body_length >> 8);
    bytes[42] = static_cast<uint8_t>(body_length);
    return bytes;
}

}  // namespace

TEST(PacketCodec, CatalogueRequestLayout)
{
    framed_packet packet;
    std::memset(&packet, 0x5A, sizeof packet);
    init_packet(&packet, nullptr, KIND_REQUEST, SUB_CATALOGUE, 0, nullptr, 0);
    // The header's size is part of the wire format: its number is held here, its name serves
    // everywhere else.
    EXPECT_EQ(PACKET_HEADER_SIZE, 44);
    EXPECT_EQ(packet_size(&packet), PACKET_HEADER_SIZE);
    std::vector<uint8_t> bytes = encode(packet);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(PACKET_HEADER_SIZE));
    std::vector<uint8_t> expected(PACKET_HEADER_SIZE, 0);
    expected[0] = 0xA0;
    expected[31] = 4;
    expected[32] = 7;
    expected[43] = 0x0F;
    EXPECT_EQ(bytes, expected);
}

TEST(PacketCodec, FileRequestNumbersAndName)
{
    framed_packet packet{};
    init_packet(&packet, nullptr, KIND_REQUEST, SUB_FILE, 0, "abc.dll", 7);
    std::vector<uint8_t> bytes = encode(packet);
    ASSERT_EQ(bytes.size(), 51u);
    EXPECT_EQ(bytes[41], 0x00);
    EXPECT_EQ(bytes[42], 0x07);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + PACKET_HEADER_SIZE, bytes.end()),
              (std::vector<uint8_t>{0x61, 0x62, 0x63, 0x2E, 0x64, 0x6C, 0x6C}));

    init_packet(&packet, "short", 2, 2, PACKET_ACCEPTED, nullptr, 0);
    packet.word = 0x1234;
    bytes = encode(packet);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 37, bytes.begin() + 41),
              (std::vector<uint8_t>{0x00, 0x00, 0x03, 0xE8}));
    EXPECT_EQ(bytes[35], 0x12);
    EXPECT_EQ(bytes[36], 0x34);
    EXPECT_EQ(std::memcmp(&bytes[1], "short", 6), 0) << "a short name is followed by a NUL";
    EXPECT_EQ(packet.word, 0x1234) << "encoding leaves the packet in host order";

    const char *long_name = "0123456789012345678901234567890123456789";
    init_packet(&packet, long_name, 4, 7, 0, nullptr, 0);
    bytes = encode(packet);
    EXPECT_EQ(std::memcmp(&bytes[1], long_name, 30), 0);
    EXPECT_EQ(bytes[31], 4) << "a 30-byte name has no NUL and does not spill";
}

TEST(PacketCodec, EncodeRefusals)
{
    framed_packet packet{};
    init_packet(&packet, nullptr, 4, 6, 0, "abc.dll", 7);
    std::vector<uint8_t> out(51, 0xEE);
    EXPECT_EQ(encode_packet(&packet, out.data(), 50), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(51, 0xEE)) << "nothing written when it does not fit";
    EXPECT_EQ(encode_packet(&packet, out.data(), 51), 51);
    EXPECT_EQ(encode_packet(nullptr, out.data(), 51), 0);

    // A length the codec cannot carry must not wrap the 16-bit size into a short buffer.
    std::vector<uint8_t> body(65535, 1);
    init_packet(&packet, nullptr, 4, 6, 0, body.data(), 65500);
    std::vector<uint8_t> small(64);
    EXPECT_EQ(encode_packet(&packet, small.data(), 64), 0);
}

TEST(PacketCodec, RoundTrip)
{
    const char body[] = "catalogue text";
    framed_packet sent{};
    init_packet(&sent, "x", 4, 7, -123456, body, 14);
    sent.word = 0xBEEF;
    std::vector<uint8_t> bytes = encode(sent);

    framed_packet got{};
    decode_packet(&got, bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(got.kind, 4);
    EXPECT_EQ(got.sub_kind, 7);
    EXPECT_EQ(got.word, 0xBEEF);
    EXPECT_EQ(got.value, -123456);
    EXPECT_EQ(got.body_length, 14);
    EXPECT_EQ(got.start_marker, 0xA0);
    EXPECT_EQ(got.end_marker, 0x0F);
    EXPECT_EQ(got.malformed, 0);
    ASSERT_EQ(got.owns_body, 1);
    EXPECT_STREQ(reinterpret_cast<char *>(got.body), "catalogue text") << "body ends in a NUL";

    // Decoding again into the same packet replaces the owned body rather than overrunning it.
    std::vector<uint8_t> bigger = answer_header(4, 7, 1000, 300);
    bigger.resize(344, 'z');
    decode_packet(&got, bigger.data(), static_cast<int>(bigger.size()));
    ASSERT_EQ(got.body_length, 300);
    EXPECT_EQ(got.body[299], 'z');
    EXPECT_EQ(got.body[300], 0);

    release_packet(&got);
    EXPECT_EQ(got.body, nullptr);
    EXPECT_EQ(got.body_length, 0);
    release_packet(nullptr);
}

TEST(PacketCodec, DecodeInPlaceWithCallerStorage)
{
    // The session decodes its answer buffer into itself: the body moves to the buffer start.
    std::vector<uint8_t> buffer(65535, 0);
    std::vector<uint8_t> bytes = answer_header(4, 7, 1000, 300);
    for (int i = 0; i < 300; ++i)
        bytes.push_back(static_cast<uint8_t>('a' + i % 26));
    std::memcpy(buffer.data(), bytes.data(), bytes.size());

    framed_packet packet{};
    packet.body = buffer.data();
    decode_packet(&packet, buffer.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(packet.value, 1000);
    EXPECT_EQ(packet.body_length, 300);
    EXPECT_EQ(packet.owns_body, 0);
    EXPECT_EQ(std::memcmp(buffer.data(), bytes.data() + PACKET_HEADER_SIZE, 300), 0);
    EXPECT_EQ(buffer[300], 0);
    release_packet(&packet);  // borrowed storage: only forgotten, never freed
    EXPECT_EQ(packet.body, nullptr);
}

TEST(PacketCodec, LengthLimits)
{
    // 40000 is beyond the codec's limit: no body at all, whoever provides storage.
    std::vector<uint8_t> bytes = answer_header(4, 7, 1000, 40000);
    bytes.resize(PACKET_HEADER_SIZE + 100, 'q');
    framed_packet packet{};
    decode_packet(&packet, bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(packet.body_length, 0);
    EXPECT_EQ(packet.body, nullptr);

    std::vector<uint8_t> storage(65535, 0);
    framed_packet borrowed{};
    borrowed.body = storage.data();
    decode_packet(&borrowed, bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(borrowed.body_length, 0);

    // Exactly 32767: refused into decoder storage, copied in full into caller storage.
    bytes = answer_header(4, 7, 1000, 32767);
    bytes.resize(PACKET_HEADER_SIZE + 32767, 'w');
    framed_packet own{};
    decode_packet(&own, bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(own.body_length, 0);
    EXPECT_EQ(own.body, nullptr);

    borrowed = framed_packet{};
    borrowed.body = storage.data();
    decode_packet(&borrowed, bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(borrowed.body_length, 32767);
    EXPECT_EQ(storage[32766], 'w');
    EXPECT_EQ(storage[32767], 0);
}

TEST(PacketCodec, ShortReceptions)
{
    // A body declared longer than what arrived: only the received bytes, the rest zero, marked.
    std::vector<uint8_t> bytes = answer_header(4, 6, 1000, 100);
    bytes.resize(PACKET_HEADER_SIZE + 10, 'k');
    framed_packet packet{};
    decode_packet(&packet, bytes.data(), static_cast<int>(bytes.size()));
    ASSERT_EQ(packet.body_length, 100);
    EXPECT_EQ(packet.malformed, 1);
    EXPECT_EQ(packet.body[9], 'k');
    EXPECT_EQ(packet.body[10], 0);
    EXPECT_EQ(packet.body[99], 0);
    release_packet(&packet);

    // Fewer bytes than a header land unconverted over the header start; the rest stays.
    framed_packet partial{};
    init_packet(&partial, "keep", 9, 9, 77, nullptr, 0);
    uint8_t raw[40];
    for (int i = 0; i < 40; ++i)
        raw[i] = static_cast<uint8_t>(i + 1);
    decode_packet(&partial, raw, 20);
    EXPECT_EQ(partial.start_marker, 1);
    EXPECT_EQ(partial.name[18], 20);
    EXPECT_EQ(partial.name[19], 0) << "byte 20 was not received";
    EXPECT_EQ(partial.kind, 9);
    EXPECT_EQ(partial.value, 77);
    EXPECT_EQ(partial.malformed, 1);

    // Up to the word field: received order into memory order, no conversion.
    decode_packet(&partial, raw, 37);
    const uint8_t *word = reinterpret_cast<const uint8_t *>(&partial.word);
    EXPECT_EQ(word[0], 36);
    EXPECT_EQ(word[1], 37);
    EXPECT_EQ(partial.kind, 32);
    EXPECT_EQ(partial.value, 77);

    decode_packet(&partial, nullptr, 50);
    decode_packet(&partial, raw, 0);
    decode_packet(nullptr, raw, 40);
    EXPECT_EQ(partial.value, 77);
}

TEST(AckDatagram, BytesAndVerdicts)
{
    uint8_t ack[ACK_SIZE];
    make_ack(ack, ACK_CLIENT);
    const uint8_t expected[8] = {0x03, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x01, 0x30};
    EXPECT_EQ(std::memcmp(ack, expected, 8), 0);
    EXPECT_EQ(judge_ack(ack, 8), 1);

    const uint8_t five[8] = {0x03, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x05, 0x30};
    const uint8_t bad_signature[8] = {0x03, 0x88, 0x89, 0x8A, 0x00, 0x8C, 0x05, 0x30};
    const uint8_t unmarked[8] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x07, 0x66};
    EXPECT_EQ(judge_ack(five, 8), 5);
    EXPECT_EQ(judge_ack(bad_signature, 8), ACK_REJECT);
    EXPECT_EQ(judge_ack(unmarked, 8), 7);
    EXPECT_EQ(judge_ack(five, 7), ACK_REJECT);
    EXPECT_EQ(judge_ack(five, 9), ACK_REJECT);
    EXPECT_EQ(judge_ack(five, -8), ACK_REJECT);
    EXPECT_EQ(judge_ack(nullptr, 8), ACK_REJECT);
}
