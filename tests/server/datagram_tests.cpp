// Framed requests over UDP: the acknowledgement dance, the answers, refusals, retries and
// datagrams that are no requests.
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <poll.h>
#include <sys/socket.h>

#include "core/ack_datagram.h"
#include "core/packet_codec.h"
#include "server/datagram_service.h"
#include "server/library_catalogue.h"
#include "server/probe_client.h"
#include "tests/server/test_server.h"

namespace {

struct datagram_fixture : ::testing::Test {
    std::string dir;
    std::unique_ptr<running_server> server;
    sockaddr_in address;
    int udp = -1;
    std::string catalogue_text;

    void SetUp() override
    {
        dir = make_sample_folder();
        server = start_test_server(test_options(dir));
        ASSERT_TRUE(server);
        address = probe_address("127.0.0.1", server->ports.text);
        udp = probe_udp_socket(2000);
        catalogue_cache cache;
        std::string error;
        ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error));
        ASSERT_TRUE(refresh_catalogue(&cache, &error));
        catalogue_text = cache.current.text;
    }
    void TearDown() override
    {
        probe_close(udp);
        stop_test_server(server.get());
        remove_folder(dir);
    }
    void send_raw(const std::string &bytes)
    {
        sendto(udp, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&address),
               sizeof address);
    }
    // The next datagram within timeout_ms, or "" when none came.
    std::string receive_raw(int timeout_ms)
    {
        char buffer[65536];
        long n = probe_receive(udp, buffer, sizeof buffer, timeout_ms);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
    static std::string request_bytes(uint8_t kind, uint8_t sub_kind, const std::string &body = "")
    {
        framed_packet packet;
        init_packet(&packet, nullptr, kind, sub_kind, 0, body.data(),
                    static_cast<uint16_t>(body.size()));
        std::string bytes(PACKET_HEADER_SIZE + body.size(), '\0');
        encode_packet(&packet, reinterpret_cast<uint8_t *>(&bytes[0]),
                      static_cast<uint16_t>(bytes.size()));
        return bytes;
    }
};

TEST_F(datagram_fixture, CatalogueAndPortExchangesFollowTheAcknowledgementDance)
{
    probe_exchange catalogue;
    ASSERT_TRUE(probe_datagram_exchange(udp, address, KIND_REQUEST, SUB_CATALOGUE, &catalogue));
    EXPECT_NE(catalogue.first_ack_code, ACK_CONFIRM);  // 0 would make the client echo it
    EXPECT_NE(catalogue.first_ack_code, ACK_REJECT);
    EXPECT_EQ(catalogue.kind, KIND_REQUEST);
    EXPECT_EQ(catalogue.sub_kind, SUB_CATALOGUE);
    EXPECT_EQ(catalogue.value, PACKET_ACCEPTED);
    EXPECT_EQ(catalogue.body, catalogue_text);
    EXPECT_EQ(catalogue.body.find('\0'), std::string::npos);
    EXPECT_NE(catalogue.final_code, ACK_REJECT);

    probe_exchange port;
    ASSERT_TRUE(probe_datagram_exchange(udp, address, KIND_REQUEST, SUB_PORT, &port));
    EXPECT_EQ(port.kind, KIND_REQUEST);
    EXPECT_EQ(port.sub_kind, SUB_PORT);
    EXPECT_EQ(port.value, server->ports.file);
    EXPECT_TRUE(port.body.empty());
    EXPECT_NE(port.final_code, ACK_REJECT);
}

TEST_F(datagram_fixture, AnswerDatagramIsExactlyTheEncodedPacket)
{
    send_raw(request_bytes(KIND_REQUEST, SUB_PORT));
    std::string ack = receive_raw(2000);
    ASSERT_EQ(ack.size(), 8u);
    EXPECT_EQ(ack.substr(0, 6), "\x03\x88\x89\x8A\x8B\x8C");
    EXPECT_EQ(ack[7], '\x30');
    std::string answer = receive_raw(2000);
    ASSERT_EQ(answer.size(), static_cast<size_t>(PACKET_HEADER_SIZE));
    EXPECT_EQ(static_cast<uint8_t>(answer[0]), 0xA0);
    EXPECT_EQ(answer[1], '\0');
    EXPECT_EQ(answer[31], 4);
    EXPECT_EQ(answer[32], 8);
    uint16_t port = static_cast<uint16_t>(server->ports.file);
    EXPECT_EQ(answer.substr(35, 8), std::string("\0\0\0\0", 4) + static_cast<char>(port >> 8) +
                                        static_cast<char>(port & 0xFF) + std::string("\0\0", 2));
    EXPECT_EQ(static_cast<uint8_t>(answer[43]), 0x0F);
}

TEST_F(datagram_fixture, OtherRequestsAreRefusedWithTheSameDance)
{
    const uint8_t kinds[][2] = {{4, 6}, {4, 9}, {2, 2}, {0, 0}, {255, 255}};
    for (const auto &k : kinds) {
        probe_exchange refusal;
        ASSERT_TRUE(probe_datagram_exchange(udp, address, k[0], k[1], &refusal));
        EXPECT_EQ(refusal.kind, KIND_REFUSAL);
        EXPECT_EQ(refusal.sub_kind, SUB_REFUSAL);
        EXPECT_NE(refusal.final_code, ACK_REJECT);
    }
}

TEST_F(datagram_fixture, MalformedDatagramsAreDroppedAndServiceGoesOn)
{
    std::string oversized_body = request_bytes(KIND_REQUEST, SUB_CATALOGUE);
    oversized_body[41] = '\x01';  // declares 500 bytes of body, carries none
    oversized_body[42] = '\xF4';
    std::string long_body = request_bytes(KIND_REQUEST, SUB_CATALOGUE, std::string(300, 'x'));
    const std::string junk[] = {
        std::string("x"),
        std::string(43, '\xA0'),
        std::string(7, '\x03'),
        oversized_body,
        long_body,
        std::string(9000, '\xFF'),
        std::string("\x03\x88\x89\x8A\x8B\x8C\x01\x30", 8),  // an ack with no exchange open
    };
    for (const std::string &datagram : junk)
        send_raw(datagram);
    EXPECT_EQ(receive_raw(300), "");

    probe_exchange port;
    ASSERT_TRUE(probe_datagram_exchange(udp, address, KIND_REQUEST, SUB_PORT, &port));
    EXPECT_EQ(port.value, server->ports.file);
}

TEST_F(datagram_fixture, RetriedRequestIsAnsweredAgainAndStrayAcksAreIgnored)
{
    // The client lost our answer and asks again before acknowledging anything.
    send_raw(request_bytes(KIND_REQUEST, SUB_CATALOGUE));
    EXPECT_EQ(receive_raw(2000).size(), 8u);
    EXPECT_EQ(receive_raw(2000).size(), PACKET_HEADER_SIZE + catalogue_text.size());
    send_raw(request_bytes(KIND_REQUEST, SUB_CATALOGUE));
    EXPECT_EQ(receive_raw(2000).size(), 8u);
    EXPECT_EQ(receive_raw(2000).size(), PACKET_HEADER_SIZE + catalogue_text.size());

    // A malformed ack (bad signature) does not close the exchange; a good one does, once.
    send_raw(std::string("\x03\x88\x00\x8A\x8B\x8C\x01\x30", 8));
    EXPECT_EQ(receive_raw(200), "");
    send_raw(std::string("\x03\x88\x89\x8A\x8B\x8C\x01\x30", 8));
    std::string reply = receive_raw(2000);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_NE(judge_ack(reinterpret_cast<const uint8_t *>(reply.data()), 8), ACK_REJECT);
    send_raw(std::string("\x03\x88\x89\x8A\x8B\x8C\x01\x30", 8));
    EXPECT_EQ(receive_raw(200), "");
}

TEST_F(datagram_fixture, AbandonedExchangeIsForgottenAfterItsTimeout)
{
    stop_test_server(server.get());
    server_options options = test_options(dir);
    options.exchange_timeout_ms = 200;
    server = start_test_server(options);
    ASSERT_TRUE(server);
    address = probe_address("127.0.0.1", server->ports.text);
    send_raw(request_bytes(KIND_REQUEST, SUB_PORT));
    EXPECT_EQ(receive_raw(2000).size(), 8u);
    EXPECT_EQ(receive_raw(2000).size(), static_cast<size_t>(PACKET_HEADER_SIZE));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the sweep runs each second
    send_raw(std::string("\x03\x88\x89\x8A\x8B\x8C\x01\x30", 8));
    EXPECT_EQ(receive_raw(300), "");
}

TEST_F(datagram_fixture, ClientsAreToldApartByAddress)
{
    int other = probe_udp_socket(2000);
    ASSERT_GE(other, 0);
    std::string request = request_bytes(KIND_REQUEST, SUB_PORT);
    // Both open an exchange; only the one that acknowledges gets the reply.
    send_raw(request);
    sendto(other, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&address),
           sizeof address);
    EXPECT_EQ(receive_raw(2000).size(), 8u);
    EXPECT_EQ(receive_raw(2000).size(), static_cast<size_t>(PACKET_HEADER_SIZE));
    char buffer[128];
    EXPECT_EQ(probe_receive(other, buffer, sizeof buffer, 2000), 8);
    EXPECT_EQ(probe_receive(other, buffer, sizeof buffer, 2000), PACKET_HEADER_SIZE);
    uint8_t ack[8];
    make_ack(ack, ACK_CLIENT);
    sendto(other, ack, 8, 0, reinterpret_cast<sockaddr *>(&address), sizeof address);
    EXPECT_EQ(probe_receive(other, buffer, sizeof buffer, 2000), 8);
    EXPECT_EQ(receive_raw(200), "");
    // The first client's exchange is still open.
    send_raw(std::string(reinterpret_cast<char *>(ack), 8));
    EXPECT_EQ(receive_raw(2000).size(), 8u);
    probe_close(other);
}

TEST(DatagramService, AbandonedExchangesAreBounded)
{
    // Without sockets: fill the table past its cap from distinct addresses.
    server_context ctx;
    std::string dir = make_sample_folder();
    std::string error;
    ASSERT_TRUE(open_library_versions(&ctx.library, dir, &error));
    ctx.options.exchange_timeout_ms = 10000;
    datagram_service service;
    service.ctx = &ctx;
    set_log_level(LOG_ERROR);
    framed_packet packet;
    init_packet(&packet, nullptr, KIND_REQUEST, SUB_PORT, 0, nullptr, 0);
    uint8_t request[PACKET_HEADER_SIZE];
    encode_packet(&packet, request, sizeof request);
    for (int i = 0; i < DATAGRAM_MAX_PENDING + 100; ++i) {
        asio::ip::udp::endpoint from(asio::ip::make_address_v4(0x7F000001u),
                                     static_cast<uint16_t>(1 + i % 60000));
        from.address(asio::ip::make_address_v4(0x7F000001u + static_cast<uint32_t>(i / 60000)));
        auto replies = datagram_reply(&service, request, sizeof request, from);
        ASSERT_EQ(replies.size(), 2u);
    }
    EXPECT_LE(service.pending.size(), static_cast<size_t>(DATAGRAM_MAX_PENDING));
    remove_folder(dir);
}

}  // namespace

namespace {

// A one-connection TCP forwarder on loopback, standing in for a router that forwards an
// outside port to the server's file port.
struct loopback_forwarder {
    int listener = -1;
    int port = 0;
    int target_port = 0;
    std::thread thread;

    bool open()
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in any = probe_address("127.0.0.1", 0);
        socklen_t length = sizeof any;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0 ||
            listen(listener, 1) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr *>(&any), &length) != 0)
            return false;
        port = ntohs(any.sin_port);
        return true;
    }
    // Relays one connection both ways until both sides have finished sending (or 10 s pass).
    void serve_one()
    {
        thread = std::thread([this] {
            pollfd wait_accept = {listener, POLLIN, 0};
            if (poll(&wait_accept, 1, 10000) != 1)
                return;
            int client = accept(listener, nullptr, nullptr);
            int server = probe_connect("127.0.0.1", target_port, 2000);
            int ends[2] = {client, server};
            bool open_from[2] = {client >= 0, server >= 0 && client >= 0};
            auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            char buffer[16384];
            while ((open_from[0] || open_from[1]) && std::chrono::steady_clock::now() < give_up) {
                pollfd fds[2] = {{open_from[0] ? client : -1, POLLIN, 0},
                                 {open_from[1] ? server : -1, POLLIN, 0}};
                if (poll(fds, 2, 200) <= 0)
                    continue;
                for (int side = 0; side < 2; ++side) {
                    if (!fds[side].revents)
                        continue;
                    ssize_t n = recv(ends[side], buffer, sizeof buffer, 0);
                    if (n <= 0 || !probe_send_all(ends[1 - side], buffer, static_cast<size_t>(n))) {
                        open_from[side] = false;
                        shutdown(ends[1 - side], SHUT_WR);
                    }
                }
            }
            probe_close(client);
            probe_close(server);
        });
    }
    ~loopback_forwarder()
    {
        if (thread.joinable())
            thread.join();
        probe_close(listener);
    }
};

TEST(AnnouncePort, ClientToldTheForwardedPortFetchesThroughIt)
{
    std::string dir = make_sample_folder();
    loopback_forwarder forwarder;
    ASSERT_TRUE(forwarder.open());
    server_options options = test_options(dir);
    options.announce_port = forwarder.port;
    std::unique_ptr<running_server> server = start_test_server(options);
    ASSERT_TRUE(server);
    ASSERT_NE(server->ports.file, forwarder.port);
    forwarder.target_port = server->ports.file;
    forwarder.serve_one();

    int udp = probe_udp_socket(2000);
    probe_exchange port;
    ASSERT_TRUE(probe_datagram_exchange(udp, probe_address("127.0.0.1", server->ports.text),
                                        KIND_REQUEST, SUB_PORT, &port));
    probe_close(udp);
    EXPECT_EQ(port.value, forwarder.port);
    // The client goes where it was told, and the file arrives through the forwarder whole.
    probe_download download;
    download.keep_data = true;
    EXPECT_EQ(probe_framed_download("127.0.0.1", port.value, "Stickrow.dll", &download, 5000), 1);
    EXPECT_TRUE(download.answer_alone);
    EXPECT_EQ(download.data, read_file(dir + "/Stickrow.dll"));
    stop_test_server(server.get());
    remove_folder(dir);
}

}  // namespace
