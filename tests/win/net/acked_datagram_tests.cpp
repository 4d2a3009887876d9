#include <cstring>
#include <string>
#include <thread>

#include "net_fixture.h"
#include "net/framed/acked_datagram.h"

namespace {

// The client's end: an unconnected UDP socket on loopback with the short receive time-out.
class AckedDatagram : public ShortTimeouts {
protected:
    void SetUp() override
    {
        ShortTimeouts::SetUp();
        client_ = udp_peer(&client_port_);
        set_receive_timeout(client_, g_net_timeouts.datagram_ms);
        peer_ = udp_peer(&peer_port_);
        to_peer_ = loopback(peer_port_);
        to_client_ = loopback(client_port_);
    }
    void TearDown() override
    {
        closesocket(client_);
        closesocket(peer_);
        ShortTimeouts::TearDown();
    }
    // What arrives at the peer within the short time-out; -1 when nothing does.
    int peer_receive_quick(datagram *d)
    {
        set_receive_timeout(peer_, 300);
        int n = receive_datagram(peer_, d);
        set_receive_timeout(peer_, PEER_WAIT_MS);
        return n;
    }
    int send_hello()
    {
        return send_acked(client_, reinterpret_cast<const uint8_t *>("hello"), 5, &to_peer_, 0);
    }

    SOCKET client_, peer_;
    u_short client_port_, peer_port_;
    sockaddr_in to_peer_, to_client_;
};

TEST_F(AckedDatagram, ConfirmingAckIsEchoedOnlyForData)
{
    datagram echo, extra;
    int echoed = -1, more = 0;
    std::thread peer([&] {
        datagram data;
        receive_datagram(peer_, &data);
        send_datagram(peer_, data.from, ack_bytes(0));
        echoed = receive_datagram(peer_, &echo);
        more = peer_receive_quick(&extra);
    });
    EXPECT_EQ(5, send_hello());
    peer.join();
    ASSERT_EQ(8, echoed);
    EXPECT_EQ(ack_bytes(0), echo.bytes);
    EXPECT_EQ(-1, more);  // echoed once only

    // The client's own acknowledgement of a received datagram is not echoed back.
    std::thread server([&] {
        send_datagram(peer_, to_client_, std::vector<uint8_t>{'d', 'a', 't', 'a'});
        datagram ack;
        echoed = receive_datagram(peer_, &ack);
        EXPECT_EQ(ack_bytes(1), ack.bytes);
        send_datagram(peer_, ack.from, ack_bytes(0));
        more = peer_receive_quick(&extra);
    });
    uint8_t buffer[64];
    EXPECT_EQ(4, receive_acked(client_, buffer, sizeof buffer, &to_peer_));
    EXPECT_EQ(0, std::memcmp(buffer, "data", 4));
    server.join();
    EXPECT_EQ(8, echoed);
    EXPECT_EQ(-1, more);
}

TEST_F(AckedDatagram, BadAcknowledgementsFailTheSend)
{
    std::vector<uint8_t> short_ack = ack_bytes(5);
    short_ack.pop_back();
    const std::vector<uint8_t> answers[] = {
        ack_bytes(3),                    // rejection
        short_ack,                       // judged on the 7 bytes that came: rejected
        std::vector<uint8_t>(20, 0x03),  // longer than an acknowledgement
        ack_bytes(9),                    // any other code is accepted
    };
    const int expected[] = {-2, -2, -2, 5};
    for (int i = 0; i < 4; i++) {
        std::thread peer([&] {
            datagram data;
            receive_datagram(peer_, &data);
            send_datagram(peer_, data.from, answers[i]);
        });
        EXPECT_EQ(expected[i], send_hello()) << "answer " << i;
        peer.join();
    }
    // A full acknowledgement of an earlier exchange must not fill in a later short one.
    std::thread peer([&] {
        datagram data;
        receive_datagram(peer_, &data);
        send_datagram(peer_, data.from, ack_bytes(5));
        receive_datagram(peer_, &data);
        send_datagram(peer_, data.from, short_ack);
    });
    EXPECT_EQ(5, send_hello());
    EXPECT_EQ(ACK_FAILED, send_hello());
    peer.join();
}

TEST_F(AckedDatagram, SilenceFailsAfterOneTimeout)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(ACK_FAILED, send_hello());
    EXPECT_GE(GetTickCount() - start, 250u);

    // The datagram arrives but the client's acknowledgement is never answered.
    send_datagram(peer_, to_client_, std::vector<uint8_t>{'x'});
    uint8_t buffer[16];
    EXPECT_EQ(ACK_FAILED, receive_acked(client_, buffer, sizeof buffer, &to_peer_));
}

TEST_F(AckedDatagram, StaleDatagramsAreDiscardedBeforeTheSend)
{
    // A stale rejection would fail the send if it were taken as this send's acknowledgement.
    send_datagram(peer_, to_client_, ack_bytes(3));
    send_datagram(peer_, to_client_, std::vector<uint8_t>(100, 0x55));
    // Another sender's datagram is dropped too, but it is none of ours: not logged.
    u_short other_port;
    SOCKET other = udp_peer(&other_port);
    send_datagram(other, to_client_, ack_bytes(3));
    closesocket(other);
    Sleep(100);
    std::thread peer([&] {
        datagram data;
        receive_datagram(peer_, &data);
        send_datagram(peer_, data.from, ack_bytes(5));
    });
    begin_stdout_capture();
    int sent = send_hello();
    std::string out = end_stdout_capture();
    peer.join();
    EXPECT_EQ(5, sent);
    EXPECT_EQ(2, count_occurrences(out, " QXDP   -   Old Receive data del! \n"));
    u_long left = 1;
    ioctlsocket(client_, FIONREAD, &left);
    EXPECT_EQ(0u, left);
}

TEST_F(AckedDatagram, OnlyThePeerIsHeard)
{
    // Another socket on another port races each of the peer's datagrams with a forgery of
    // its own; none of it may be taken, answered or end a wait.
    u_short impostor_port;
    SOCKET impostor = udp_peer(&impostor_port);
    std::thread peer([&] {
        datagram data, ack;
        if (receive_datagram(peer_, &data) < 0)
            return;
        send_datagram(impostor, data.from, ack_bytes(3));
        send_datagram(peer_, data.from, ack_bytes(5));
        send_datagram(impostor, to_client_, std::vector<uint8_t>{'e', 'v', 'i', 'l'});
        send_datagram(peer_, to_client_, std::vector<uint8_t>{'d', 'a', 't', 'a'});
        if (receive_datagram(peer_, &ack) < 0)
            return;
        send_datagram(impostor, to_client_, ack_bytes(3));
        send_datagram(peer_, to_client_, ack_bytes(7));
    });
    EXPECT_EQ(5, send_hello());
    uint8_t buffer[64];
    EXPECT_EQ(4, receive_acked(client_, buffer, sizeof buffer, &to_peer_));
    EXPECT_EQ(0, std::memcmp(buffer, "data", 4));
    peer.join();
    datagram d;
    EXPECT_EQ(-1, peer_receive_quick(&d));
    set_receive_timeout(impostor, 300);
    EXPECT_EQ(-1, receive_datagram(impostor, &d));  // the impostor got nothing back
    closesocket(impostor);
}

}  // namespace
