// The datagram request session: one UDP socket, the server address, two buffers.
#pragma once
#include <winsock2.h>
#include <cstdint>
#include "core/framed_packet.h"

enum { SESSION_BUFFER_SIZE = 65535 };

struct framed_session {
    SOCKET socket;
    sockaddr_in server;
    int address_length;       // 16
    uint8_t *request_buffer;  // 65535 bytes
    uint8_t *answer_buffer;   // 65535 bytes; after an exchange: the answer body + NUL
    int buffer_size;          // 65535
};

extern framed_session *g_framed_session;  // the current session; null until the first

// Told at the start of each try of an exchange (1-based, and the most allowed), so a
// caller that waits on a slow server can say how far it got. Null: nobody listens.
extern void (*g_exchange_try_observer)(int attempt, int tries);

// A session, or null when the record or a buffer cannot be allocated.
framed_session *create_session(const char *host, uint16_t port);
void release_session(framed_session *session);
void set_server_address(sockaddr_in *address, const char *host, uint16_t port);
int send_packet_datagram(const framed_packet *packet, SOCKET s, const sockaddr_in *to,
                         uint8_t *buffer, int capacity);
// Takes the next packet from the peer only (other senders are ignored).
int receive_packet_datagram(framed_packet *packet, SOCKET s, const sockaddr_in *peer);
// The failure result of the datagram calls below.
enum { EXCHANGE_FAILED = -1 };

// Answer body length (>= 0) and *value on success; EXCHANGE_FAILED (*value untouched).
int framed_exchange(framed_session *session, const framed_packet *request, uint8_t *storage,
                    int capacity, int32_t *value);
int request_port(framed_session *session);  // 0 on failure
