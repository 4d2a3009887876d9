// Receiving the bytes of one transfer under its overall bound: every receive still ends at
// the socket's own time-out, and the bytes that arrive are counted against the minimum rate
// of g_net_timeouts, so a peer that sends a byte now and then cannot hold a transfer open.
#pragma once
#include <winsock2.h>

#include "core/transfer_bound.h"

// The result of bounded_receive once the transfer fell below its rate: abandon it.
enum { RECEIVE_TOO_SLOW = -2 };

// Starts the bound of one transfer now, with the rate and window of g_net_timeouts.
void begin_transfer_bound(transfer_bound *bound);

// One recv into buffer: the bytes received, 0 at the peer's orderly close, SOCKET_ERROR
// (error or time-out), or RECEIVE_TOO_SLOW when these bytes leave the transfer below its
// rate. A null bound counts nothing.
int bounded_receive(SOCKET s, char *buffer, int length, transfer_bound *bound);

// Counts bytes that came by a receive of another layer (an answer and what arrived behind
// it): 1 while the transfer keeps its rate, 0 when it fell below it.
int note_received(transfer_bound *bound, int bytes);
