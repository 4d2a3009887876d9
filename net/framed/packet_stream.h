// One framed packet over a connected TCP socket.
#pragma once
#include <winsock2.h>
#include "core/framed_packet.h"

int send_packet_stream(SOCKET s, const framed_packet *packet);  // always 0
// Result of the single receive. Bytes past the packet's 44 + body length are copied to
// extra (up to extra_capacity) and counted in *extra_count when those are given.
int receive_packet_stream(SOCKET s, framed_packet *packet, char *extra = nullptr,
                          int extra_capacity = 0, int *extra_count = nullptr);
