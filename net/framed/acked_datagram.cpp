// Acknowledged datagrams: every datagram that carries a packet is confirmed by an 8-byte
// acknowledgement, in both directions. Each wait ends at the socket's receive time-out.
//
// The socket stays unconnected, and every receive takes only datagrams from the one peer (the
// server's address and port): anything else is dropped unseen, so another host cannot race
// the server's acknowledgements or answers. Checking the sender ourselves behaves the same on
// Windows and under Wine, where a connected datagram socket's filtering and error reporting
// are the system's choice.
#include "net/framed/acked_datagram.h"

#include <cstdio>
#include <cstring>

#include "core/ack_datagram.h"


// More datagrams than any earlier try can have left behind; a host flooding the socket must
// not hold the drain forever (what it leaves is ignored by the receives anyway).
enum { STALE_DRAIN_LIMIT = 256 };

static int is_from(const sockaddr_in *from, const sockaddr_in *peer)
{
    return from->sin_family == AF_INET && from->sin_addr.s_addr == peer->sin_addr.s_addr &&
           from->sin_port == peer->sin_port;
}

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

// The socket's receive time-out in milliseconds; 0 when it has none or it cannot be read.
static DWORD receive_timeout(SOCKET s)
{
    DWORD timeout = 0;
    int length = sizeof timeout;
    if (getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char *>(&timeout), &length) != 0)
        return 0;
    return timeout;
}

// One datagram from the peer, waiting at most the socket's receive time-out in all. A
// datagram from anyone else is no datagram: it is consumed and the wait goes on. So is the
// reset Windows reports on a datagram socket after an ICMP "port unreachable" for an earlier
// send: it carries no data and must neither end the wait nor pass for an answer. The byte
// count, or SOCKET_ERROR on time-out, error, or a datagram of the peer's too long for the
// buffer (consumed whole).
static int receive_from_peer(SOCKET s, char *buffer, int capacity, const sockaddr_in *peer)
{
    DWORD timeout = receive_timeout(s);
    DWORD start = GetTickCount();
    for (;;) {
        if (timeout != 0) {
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeout) {
                WSASetLastError(WSAETIMEDOUT);
                return SOCKET_ERROR;
            }
            DWORD left = timeout - elapsed;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval wait = {static_cast<long>(left / 1000),
                            static_cast<long>((left % 1000) * 1000)};
            int ready = select(0, &readable, nullptr, nullptr, &wait);
            if (ready == SOCKET_ERROR)
                return SOCKET_ERROR;
            if (ready == 0)
                continue;
        }
        sockaddr_in from;
        std::memset(&from, 0, sizeof from);
        int from_length = sizeof from;
        int n = recvfrom(s, buffer, capacity, 0, reinterpret_cast<sockaddr *>(&from), &from_length);
        if (n == SOCKET_ERROR) {
            int error = WSAGetLastError();
            if (error == WSAECONNRESET || error == WSAENETRESET)
                continue;
            if (error == WSAEMSGSIZE && !is_from(&from, peer))
                continue;
            return SOCKET_ERROR;
        }
        if (is_from(&from, peer))
            return n;
    }
}

void discard_stale(SOCKET s, const sockaddr_in *peer)
{
    // Answers to an earlier, abandoned try must not be taken for this exchange's.
    for (int dropped = 0; dropped < STALE_DRAIN_LIMIT && datagram_waiting(s); dropped++) {
        char byte = 0;
        sockaddr_in from;
        std::memset(&from, 0, sizeof from);
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
        // Only the peer's datagrams are old data of ours; anyone else's is simply dropped.
        if (!is_from(&from, peer))
            continue;
        std::fputs(" QXDP   -   Old Receive data del! \n", stdout);
        std::fflush(stdout);
    }
}

int send_acked(SOCKET s, const uint8_t *data, uint16_t length, const sockaddr_in *to, int is_ack)
{
    if (to == nullptr)
        return DATAGRAM_FAILED;
    discard_stale(s, to);
    int sent = sendto(s, reinterpret_cast<const char *>(data), length, 0,
                      reinterpret_cast<const sockaddr *>(to), sizeof(sockaddr_in));
    if (sent <= 0)
        return sent;

    // Zeroed before each receive and judged on what arrived, so a short acknowledgement is
    // never completed by bytes of an earlier datagram.
    uint8_t ack[ACK_SIZE];
    std::memset(ack, 0, sizeof ack);
    int n = receive_from_peer(s, reinterpret_cast<char *>(ack), ACK_SIZE, to);
    if (n == SOCKET_ERROR || n < 0)
        return ACK_FAILED;  // time-out, error, or a datagram longer than an acknowledgement
    if (n == 0)
        return 0;
    int verdict = judge_ack(ack, n);
    if (verdict == ACK_REJECT)
        return ACK_FAILED;
    if (verdict == ACK_CONFIRM && !is_ack)
        sendto(s, reinterpret_cast<const char *>(ack), ACK_SIZE, 0,
               reinterpret_cast<const sockaddr *>(to), sizeof(sockaddr_in));
    return sent;
}

int receive_acked(SOCKET s, uint8_t *buffer, uint16_t capacity, const sockaddr_in *peer)
{
    if (peer == nullptr)
        return DATAGRAM_FAILED;
    int received = receive_from_peer(s, reinterpret_cast<char *>(buffer), capacity, peer);
    if (received <= 0)
        return received;

    uint8_t ack[ACK_SIZE];
    make_ack(ack, ACK_CLIENT);
    int answered = send_acked(s, ack, ACK_SIZE, peer, 1);
    if (static_cast<int16_t>(answered) < 0)
        return answered;
    return received;
}
