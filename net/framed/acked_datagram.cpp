// Acknowledged datagrams: every datagram that carries a packet is confirmed by an 8-byte
// acknowledgement, in both directions. Each wait ends at the socket's receive time-out.
#include "net/framed/acked_datagram.h"

#include <cstdio>
#include <cstring>

#include "net/framed/ack_datagram.h"

enum { ACK_FAILED = -2 };

// True when a datagram (even an empty one, which FIONREAD does not show) is waiting.
static int datagram_waiting(SOCKET s)
{
    u_long pending = 0;
    if (ioctlsocket(s, FIONREAD, &pending) == 0 && pending != 0)
        return 1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now = {0, 0};
    return select(0, &readable, nullptr, nullptr, &now) > 0 && FD_ISSET(s, &readable);
}

void discard_stale(SOCKET s)
{
    // Answers to an earlier, abandoned try must not be taken for this exchange's.
    while (datagram_waiting(s)) {
        char byte = 0;
        sockaddr_in from;
        int from_length = sizeof from;
        int n = recvfrom(s, &byte, 1, 0, reinterpret_cast<sockaddr *>(&from), &from_length);
        if (n == SOCKET_ERROR) {
            int error = WSAGetLastError();
            // A longer datagram is consumed whole; a reported ICMP error is consumed too.
            // Anything else means the socket itself is unusable: stop rather than spin.
            if (error == WSAECONNRESET)
                continue;
            if (error != WSAEMSGSIZE)
                return;
        }
        byte = 0;
        std::fputs(" QXDP   -   Old Receive data del! \n", stdout);
        std::fflush(stdout);
    }
}

int send_acked(SOCKET s, const uint8_t *data, uint16_t length, const sockaddr_in *to, int is_ack)
{
    discard_stale(s);
    int sent = sendto(s, reinterpret_cast<const char *>(data), length, 0,
                      reinterpret_cast<const sockaddr *>(to), sizeof(sockaddr_in));
    if (sent <= 0)
        return sent;

    // Zeroed before each receive and judged on what arrived, so a short acknowledgement is
    // never completed by bytes of an earlier datagram.
    uint8_t ack[ACK_SIZE];
    std::memset(ack, 0, sizeof ack);
    sockaddr_in from;
    std::memset(&from, 0, sizeof from);
    int from_length = sizeof from;
    int n = recvfrom(s, reinterpret_cast<char *>(ack), ACK_SIZE, 0,
                     reinterpret_cast<sockaddr *>(&from), &from_length);
    if (n == SOCKET_ERROR || n < 0)
        return ACK_FAILED;   // time-out, error, or a datagram longer than an acknowledgement
    if (n == 0)
        return 0;
    int verdict = judge_ack(ack, n);
    if (verdict == ACK_REJECT)
        return ACK_FAILED;
    if (verdict == ACK_CONFIRM && !is_ack)
        sendto(s, reinterpret_cast<const char *>(ack), ACK_SIZE, 0,
               reinterpret_cast<const sockaddr *>(&from), from_length);
    return sent;
}

int receive_acked(SOCKET s, uint8_t *buffer, uint16_t capacity, sockaddr_in *from)
{
    sockaddr_in sender;
    std::memset(&sender, 0, sizeof sender);
    int sender_length = sizeof sender;
    int received = recvfrom(s, reinterpret_cast<char *>(buffer), capacity, 0,
                            reinterpret_cast<sockaddr *>(&sender), &sender_length);
    if (received <= 0)
        return received;
    if (from != nullptr)
        *from = sender;

    uint8_t ack[ACK_SIZE];
    make_ack(ack, ACK_CLIENT);
    int answered = send_acked(s, ack, ACK_SIZE, &sender, 1);
    if (static_cast<int16_t>(answered) < 0)
        return answered;
    return received;
}
