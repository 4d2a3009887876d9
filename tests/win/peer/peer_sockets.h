// Loopback sockets for the scripted peers of the Windows tests. Every peer socket gets a
// receive time-out, so a test that goes wrong fails instead of hanging.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum { PEER_WAIT_MS = 3000 };

sockaddr_in loopback(u_short port);
SOCKET listen_on(u_short port);                 // 127.0.0.1:port, listening; 0: system-chosen
SOCKET tcp_listener(u_short *port);             // listening on 127.0.0.1, system-chosen port
SOCKET udp_peer(u_short *port);                 // bound to 127.0.0.1, PEER_WAIT_MS time-out
u_short unused_port();                          // a loopback port nothing listens on
SOCKET accept_within(SOCKET listener, int ms);  // INVALID_SOCKET on time-out
void set_receive_timeout(SOCKET s, int ms);

// Sends in pieces of at most `piece` bytes, one send each; false when the peer went away.
bool send_pieces(SOCKET s, const void *data, size_t length, size_t piece);
bool send_all(SOCKET s, const void *data, size_t length);
// Reads exactly length bytes unless the peer closes or times out; returns what was read.
int receive_exactly(SOCKET s, char *buffer, int length);
// Everything until the peer closes or the time-out passes.
std::string receive_all(SOCKET s);
// A text-protocol request: up to and including its NUL; false when the peer closed first.
bool read_request(SOCKET s, std::string *request);

// Framed packets for peers to send.
std::vector<uint8_t> packet_bytes(uint8_t kind, uint8_t sub_kind, int32_t value,
                                  const std::string &body = std::string());
std::vector<uint8_t> ack_bytes(uint8_t code);

// One datagram the peer received, with its sender.
struct datagram {
    std::vector<uint8_t> bytes;
    sockaddr_in from;
};
int receive_datagram(SOCKET s, datagram *d);  // byte count, or -1 on time-out
void send_datagram(SOCKET s, const sockaddr_in &to, const std::vector<uint8_t> &bytes);
