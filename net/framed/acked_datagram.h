// Acknowledged datagrams on one unconnected UDP socket, with one peer: datagrams from any
// other address or port are ignored by every receive.
#pragma once
#include <winsock2.h>
#include <cstdint>

// Drops every waiting datagram; only the peer's are logged as old data.
void discard_stale(SOCKET s, const sockaddr_in *peer);
// The negative results of send_acked and receive_acked (a send's own error passes as it is).
enum { DATAGRAM_FAILED = -1, ACK_FAILED = -2 };

// Bytes sent (> 0) when sent to `to` and acknowledged by it; 0 or negative otherwise
// (ACK_FAILED: no acknowledgement, or a rejecting one).
int send_acked(SOCKET s, const uint8_t *data, uint16_t length, const sockaddr_in *to, int is_ack);
// Bytes received (> 0) when a datagram from the peer arrived and our code-1 ack went through.
int receive_acked(SOCKET s, uint8_t *buffer, uint16_t capacity, const sockaddr_in *peer);
