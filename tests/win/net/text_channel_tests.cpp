#include <cstring>
#include <string>
#include <thread>

#include "core/text_protocol.h"
#include "net/host_address.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "net_fixture.h"

namespace {

void point_at(const char *host, u_short port)
{
    std::strcpy(g_server_address.host, host);
    g_server_address.port = port;
}

class TextChannel : public ShortTimeouts {
protected:
    void TearDown() override
    {
        close_text_channel();
        if (g_socket_mutex != nullptr) {
            CloseHandle(g_socket_mutex);
            g_socket_mutex = nullptr;
        }
        ShortTimeouts::TearDown();
    }
};

TEST_F(TextChannel, RequestCarriesItsNulAndTheAnswerIsOneReceive)
{
    u_short port;
    SOCKET listener = tcp_listener(&port);
    std::string request, after;
    std::thread peer([&] {
        SOCKET c = accept_within(listener, PEER_WAIT_MS);
        char buffer[16];
        int n = receive_exactly(c, buffer, 16);
        request.assign(buffer, static_cast<size_t>(n));
        send_all(c, TEXT_ANSWER_OK "abc", 12);
        after = receive_all(c);  // nothing more until the client closes
        closesocket(c);
    });
    point_at("127.0.0.1", port);
    ASSERT_EQ(CHANNEL_OPEN, open_text_channel());
    ASSERT_NE(0u, g_channel_socket);
    char answer[2048];
    int n = text_exchange(g_channel_socket, TEXT_REQUEST_CATALOGUE, answer, sizeof answer);
    EXPECT_EQ(12, n);
    EXPECT_EQ(0, std::memcmp(answer, TEXT_ANSWER_OK "abc", 12));

    close_text_channel();
    EXPECT_EQ(0u, g_channel_socket);
    close_text_channel();  // already closed: nothing happens
    EXPECT_EQ(0u, g_channel_socket);
    peer.join();
    closesocket(listener);

    EXPECT_EQ(std::string(TEXT_REQUEST_CATALOGUE, 16), request);  // 15 characters + NUL
    EXPECT_TRUE(after.empty());
}

TEST_F(TextChannel, RefusedConnectionIsTriedTwiceThenGivenUp)
{
    g_net_timeouts.connect_retry_ms = 400;  // the real pause between the two attempts
    point_at("127.0.0.1", unused_port());
    DWORD start = GetTickCount();
    EXPECT_EQ(CHANNEL_NO_CONNECTION, open_text_channel());
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(0u, g_channel_socket);
    EXPECT_GE(elapsed, 380u);
    EXPECT_LT(elapsed, 3000u);  // refused, not timed out
}

TEST_F(TextChannel, SecondAttemptReachesAServerThatCameUpLate)
{
    g_net_timeouts.connect_retry_ms = 400;
    u_short port = unused_port();
    SOCKET accepted = INVALID_SOCKET;
    std::thread late([&] {
        Sleep(150);  // after the first attempt was refused, before the second
        SOCKET listener = listen_on(port);
        accepted = accept_within(listener, PEER_WAIT_MS);
        closesocket(accepted);
        closesocket(listener);
    });
    point_at("127.0.0.1", port);
    EXPECT_EQ(CHANNEL_OPEN, open_text_channel());
    late.join();
    EXPECT_NE(INVALID_SOCKET, accepted);
}

TEST_F(TextChannel, SilentServerFailsTheExchangeButKeepsTheConnection)
{
    u_short port;
    SOCKET listener = tcp_listener(&port);
    HANDLE speak = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread peer([&] {
        SOCKET c = accept_within(listener, PEER_WAIT_MS);
        char buffer[16];
        receive_exactly(c, buffer, 16);
        WaitForSingleObject(speak, PEER_WAIT_MS);
        send_all(c, "late", 4);
        receive_all(c);
        closesocket(c);
    });
    // Another thread holds the socket mutex for a while: the failed exchange waits for it.
    g_socket_mutex = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        WaitForSingleObject(g_socket_mutex, INFINITE);
        SetEvent(held);
        Sleep(700);
        ReleaseMutex(g_socket_mutex);
    });
    WaitForSingleObject(held, PEER_WAIT_MS);

    point_at("127.0.0.1", port);
    ASSERT_EQ(CHANNEL_OPEN, open_text_channel());
    char answer[64];
    DWORD start = GetTickCount();
    EXPECT_EQ(0, text_exchange(g_channel_socket, TEXT_REQUEST_CATALOGUE, answer, sizeof answer));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ('\0', answer[0]);
    EXPECT_GE(elapsed, 600u);  // the 300 ms time-out, then the wait for the mutex
    holder.join();

    // Still connected: what the server sends later arrives on the same socket.
    ASSERT_NE(0u, g_channel_socket);
    SetEvent(speak);
    char late[4] = {};
    EXPECT_EQ(4, receive_exactly(g_channel_socket, late, 4));
    EXPECT_EQ(0, std::memcmp(late, "late", 4));
    close_text_channel();
    peer.join();
    closesocket(listener);
    CloseHandle(speak);
    CloseHandle(held);
}

TEST_F(TextChannel, HostTextResolution)
{
    in_addr a;
    a.s_addr = 0;
    // Digit-led: converted without a look-up, even when it is no address.
    EXPECT_EQ(1, resolve_host("10.0.0.5", &a));
    EXPECT_EQ(inet_addr("10.0.0.5"), a.s_addr);
    EXPECT_EQ(1, resolve_host("1nonexistent.invalid", &a));
    EXPECT_EQ(0xFFFFFFFFu, a.s_addr);
    // A name that does not resolve leaves the address as it was.
    a.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(0, resolve_host("nonexistent.invalid", &a));
    EXPECT_EQ(inet_addr("127.0.0.1"), a.s_addr);
    EXPECT_EQ(0, resolve_host(nullptr, &a));
}

TEST_F(TextChannel, UnresolvableNameReusesTheLastAddress)
{
    u_short port;
    SOCKET listener = tcp_listener(&port);
    int accepted = 0;
    std::thread peer([&] {
        SOCKET first = accept_within(listener, PEER_WAIT_MS);
        SOCKET second = accept_within(listener, PEER_WAIT_MS);
        accepted = (first != INVALID_SOCKET) + (second != INVALID_SOCKET);
        closesocket(first);
        closesocket(second);
    });
    point_at("127.0.0.1", port);
    ASSERT_EQ(CHANNEL_OPEN, open_text_channel());
    SOCKET first = g_channel_socket;
    point_at("nonexistent.invalid", port);
    EXPECT_EQ(CHANNEL_OPEN, open_text_channel());  // replaces the open socket
    EXPECT_NE(0u, g_channel_socket);
    EXPECT_EQ(inet_addr("127.0.0.1"), g_channel_address.sin_addr.s_addr);
    (void)first;
    peer.join();
    closesocket(listener);
    EXPECT_EQ(2, accepted);
}

}  // namespace
