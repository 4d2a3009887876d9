// Scripted loopback peers and helpers shared by the networking tests. Every peer socket has
// a receive time-out, so a test that goes wrong fails instead of hanging.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/net_timeouts.h"

enum { PEER_WAIT_MS = 3000 };

sockaddr_in loopback(u_short port);
SOCKET tcp_listener(u_short *port);             // listening on 127.0.0.1, system-chosen port
SOCKET udp_peer(u_short *port);                 // bound to 127.0.0.1, PEER_WAIT_MS time-out
u_short unused_port();                          // a loopback port nothing listens on
SOCKET accept_within(SOCKET listener, int ms);  // INVALID_SOCKET on time-out
void set_receive_timeout(SOCKET s, int ms);
// Reads exactly length bytes unless the peer closes or times out; returns what was read.
int receive_exactly(SOCKET s, char *buffer, int length);
// Everything until the peer closes or the time-out passes.
std::string receive_all(SOCKET s);
void send_all(SOCKET s, const void *data, int length);

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

// Standard output of the calls between the two, as text.
void begin_stdout_capture();
std::string end_stdout_capture();
int count_occurrences(const std::string &text, const std::string &what);

// Whole-file helpers; "<missing>" when the file cannot be opened.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);

// Short waits for the suite; each test that needs the real ones says so.
class ShortTimeouts : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    net_timeouts saved_;
};
