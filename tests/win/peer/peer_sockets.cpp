#include "peer_sockets.h"

#include <cstring>

#include "core/ack_datagram.h"
#include "core/packet_codec.h"

sockaddr_in loopback(u_short port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

static u_short bound_port(SOCKET s)
{
    sockaddr_in a;
    int length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &length);
    return ntohs(a.sin_port);
}

void set_receive_timeout(SOCKET s, int ms)
{
    DWORD t = static_cast<DWORD>(ms);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&t), sizeof t);
}

SOCKET listen_on(u_short port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(port);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(s, 8);
    return s;
}

SOCKET tcp_listener(u_short *port)
{
    SOCKET s = listen_on(0);
    *port = bound_port(s);
    return s;
}

SOCKET udp_peer(u_short *port)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = loopback(0);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    set_receive_timeout(s, PEER_WAIT_MS);
    *port = bound_port(s);
    return s;
}

u_short unused_port()
{
    u_short port = 0;
    SOCKET s = tcp_listener(&port);
    closesocket(s);
    return port;
}

SOCKET accept_within(SOCKET listener, int ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval wait = {ms / 1000, (ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
        return INVALID_SOCKET;
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s != INVALID_SOCKET)
        set_receive_timeout(s, PEER_WAIT_MS);
    return s;
}

bool send_pieces(SOCKET s, const void *data, size_t length, size_t piece)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        int sent = send(s, p, static_cast<int>(length > piece ? piece : length), 0);
        if (sent <= 0)
            return false;
        p += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool send_all(SOCKET s, const void *data, size_t length)
{
    return send_pieces(s, data, length, 65536);
}

int receive_exactly(SOCKET s, char *buffer, int length)
{
    int done = 0;
    while (done < length) {
        int n = recv(s, buffer + done, length - done, 0);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

std::string receive_all(SOCKET s)
{
    std::string all;
    char buffer[4096];
    for (;;) {
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

bool read_request(SOCKET s, std::string *request)
{
    request->clear();
    char c;
    for (;;) {
        if (recv(s, &c, 1, 0) != 1)
            return false;
        if (c == 0)
            return true;
        request->push_back(c);
    }
}

std::vector<uint8_t> packet_bytes(uint8_t kind, uint8_t sub_kind, int32_t value,
                                  const std::string &body)
{
    framed_packet p;
    std::memset(&p, 0, sizeof p);
    init_packet(&p, nullptr, kind, sub_kind, value, body.data(),
                static_cast<uint16_t>(body.size()));
    std::vector<uint8_t> out(PACKET_HEADER_SIZE + body.size());
    encode_packet(&p, out.data(), static_cast<uint16_t>(out.size()));
    return out;
}

std::vector<uint8_t> ack_bytes(uint8_t code)
{
    std::vector<uint8_t> out(ACK_SIZE);
    make_ack(out.data(), code);
    return out;
}

int receive_datagram(SOCKET s, datagram *d)
{
    std::vector<uint8_t> buffer(65536);
    int length = sizeof d->from;
    int n = recvfrom(s, reinterpret_cast<char *>(buffer.data()), static_cast<int>(buffer.size()), 0,
                     reinterpret_cast<sockaddr *>(&d->from), &length);
    if (n < 0)
        return -1;
    d->bytes.assign(buffer.begin(), buffer.begin() + n);
    return n;
}

void send_datagram(SOCKET s, const sockaddr_in &to, const std::vector<uint8_t> &bytes)
{
    sendto(s, reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()), 0,
           reinterpret_cast<const sockaddr *>(&to), sizeof to);
}
