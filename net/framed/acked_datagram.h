// Acknowledged datagrams on one unconnected UDP socket.
#pragma once
#include <winsock2.h>
#include <cstdint>

void discard_stale(SOCKET s);
// Bytes sent (> 0) when sent and acknowledged; 0 or negative otherwise (-2: ack failed).
int send_acked(SOCKET s, const uint8_t *data, uint16_t length, const sockaddr_in *to,
               int is_ack);
// Bytes received (> 0) when a datagram arrived and our code-1 ack went through.
int receive_acked(SOCKET s, uint8_t *buffer, uint16_t capacity, sockaddr_in *from);
