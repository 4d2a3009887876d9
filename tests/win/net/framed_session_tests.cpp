#include <cstring>
#include <string>
#include <thread>

#include "core/packet_codec.h"
#include "framed_peer.h"
#include "net/framed/framed_session.h"
#include "net_fixture.h"

namespace {

// Answers every request with `answer` until the client falls silent; counts the requests.
int serve_until_quiet(SOCKET p, const std::vector<uint8_t> &answer)
{
    set_receive_timeout(p, 1000);
    int requests = 0;
    datagram request;
    while (serve_one(p, answer, &request))
        requests++;
    return requests;
}

int pending_datagrams(SOCKET p)
{
    set_receive_timeout(p, 100);
    int count = 0;
    datagram d;
    while (receive_datagram(p, &d) >= 0)
        count++;
    return count;
}

class FramedSession : public ShortTimeouts {
protected:
    void SetUp() override
    {
        ShortTimeouts::SetUp();
        peer_ = udp_peer(&port_);
        session_ = create_session("127.0.0.1", port_);
        ASSERT_NE(nullptr, session_);
        std::memset(&catalogue_request_, 0, sizeof catalogue_request_);
        init_packet(&catalogue_request_, nullptr, KIND_REQUEST, SUB_CATALOGUE, 0, nullptr, 0);
    }
    void TearDown() override
    {
        release_session(session_);
        closesocket(peer_);
        ShortTimeouts::TearDown();
    }
    int exchange_catalogue(int32_t *value)
    {
        return framed_exchange(session_, &catalogue_request_, session_->answer_buffer,
                               session_->buffer_size, value);
    }

    SOCKET peer_;
    u_short port_;
    framed_session *session_;
    framed_packet catalogue_request_;
};

TEST_F(FramedSession, CreationAndServerAddress)
{
    EXPECT_NE(nullptr, session_->request_buffer);
    EXPECT_NE(nullptr, session_->answer_buffer);
    EXPECT_EQ(65535, session_->buffer_size);
    EXPECT_EQ(16, session_->address_length);
    EXPECT_EQ(AF_INET, session_->server.sin_family);
    EXPECT_EQ(htons(port_), session_->server.sin_port);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), session_->server.sin_addr.s_addr);

    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    set_server_address(&a, "10.0.0.5", 5757);
    EXPECT_EQ(inet_addr("10.0.0.5"), a.sin_addr.s_addr);
    EXPECT_EQ(htons(5757), a.sin_port);
    set_server_address(&a, "9.not.an.address", 1);
    EXPECT_EQ(0xFFFFFFFFu, a.sin_addr.s_addr);
    set_server_address(&a, nullptr, 2);  // absent host: nothing changes
    EXPECT_EQ(htons(1), a.sin_port);
    set_server_address(nullptr, "1.2.3.4", 2);
    release_session(nullptr);
    EXPECT_EQ(0, request_port(nullptr));
}

TEST_F(FramedSession, AnswerBodyLandsAtTheStartOfTheAnswerBuffer)
{
    std::string body(300, 'x');
    for (int i = 0; i < 300; i++)
        body[i] = static_cast<char>('a' + i % 26);
    datagram request;
    std::thread peer([&] { serve_one(peer_, packet_bytes(4, 7, 1000, body), &request); });
    int32_t value = 0;
    EXPECT_EQ(300, exchange_catalogue(&value));
    peer.join();
    EXPECT_EQ(1000, value);
    EXPECT_EQ(0, std::memcmp(session_->answer_buffer, body.data(), 300));
    EXPECT_EQ(0, session_->answer_buffer[300]);
    // The request went out as a bare 44-byte packet of kind 4, sub-kind 7.
    ASSERT_EQ(44u, request.bytes.size());
    EXPECT_EQ(4, request.bytes[31]);
    EXPECT_EQ(7, request.bytes[32]);
}

TEST_F(FramedSession, WrongKindAnswerIsRetriedWithoutCostingATry)
{
    g_net_timeouts.datagram_tries = 1;  // a counted try would end the exchange
    std::thread peer([&] {
        datagram request;
        serve_one(peer_, packet_bytes(4, 7, 1000), &request);
        serve_one(peer_, packet_bytes(4, 8, 21234), &request);
    });
    EXPECT_EQ(21234, request_port(session_));
    peer.join();
}

TEST_F(FramedSession, RefusalEndsTheExchangeAtOnce)
{
    int requests = 0;
    std::thread peer([&] { requests = serve_until_quiet(peer_, packet_bytes(2, 2, 0)); });
    int32_t value = 77;
    EXPECT_EQ(EXCHANGE_FAILED, exchange_catalogue(&value));
    peer.join();
    EXPECT_EQ(77, value);
    EXPECT_EQ(1, requests);
}

TEST_F(FramedSession, SilentServerCostsFiveTries)
{
    int32_t value = 77;
    EXPECT_EQ(EXCHANGE_FAILED, exchange_catalogue(&value));
    EXPECT_EQ(77, value);
    EXPECT_EQ(5, pending_datagrams(peer_));
}

TEST_F(FramedSession, MisbehavingServersAreBounded)
{
    // Only ever the wrong kind: a few are free, then each costs a try.
    int requests = 0;
    std::thread peer([&] { requests = serve_until_quiet(peer_, packet_bytes(4, 7, 1000)); });
    EXPECT_EQ(0, request_port(session_));
    peer.join();
    EXPECT_EQ(8, requests);

    // A body declared longer than what arrived is a failed try, not an answer.
    std::vector<uint8_t> cut = packet_bytes(4, 7, 1000, std::string(100, 'b'));
    cut.resize(54);
    std::thread cutter([&] { requests = serve_until_quiet(peer_, cut); });
    int32_t value = 77;
    EXPECT_EQ(EXCHANGE_FAILED, exchange_catalogue(&value));
    cutter.join();
    EXPECT_EQ(5, requests);
    EXPECT_EQ(77, value);
}

TEST_F(FramedSession, OnlyTheServersDatagramsAreHeard)
{
    u_short impostor_port;
    SOCKET impostor = udp_peer(&impostor_port);
    const std::string body = "real.dll^|1^|2^|0^|0~|";
    bool served = false;
    std::thread peer([&] {
        datagram request;
        served = serve_one(peer_, packet_bytes(4, 7, 1000, body), &request, impostor);
    });
    int32_t value = 0;
    EXPECT_EQ(static_cast<int>(body.size()), exchange_catalogue(&value));
    peer.join();
    EXPECT_TRUE(served);  // the server heard the client's acknowledgement
    EXPECT_EQ(1000, value);
    EXPECT_EQ(body, std::string(reinterpret_cast<char *>(session_->answer_buffer)));
    EXPECT_EQ(0, pending_datagrams(impostor));  // nothing went back to the impostor
    closesocket(impostor);
}

}  // namespace
