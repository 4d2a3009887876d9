// Keeping an answer alone in the client's first receive. The client takes whatever its first
// receive brings as the answer and drops the rest, so file bytes must not reach it before it
// has read the answer. Nothing on the wire says when it has, so the server pauses.
//
// The pause starts once the answer has left the socket (file bytes queued behind an unsent
// answer would travel in the same segment). Waiting also for the client's acknowledgement
// covers a lost and resent answer, which would otherwise arrive glued to the data; but a
// client acknowledges a lone small segment only when its delayed-acknowledgement timer fires
// (40 ms on Linux, up to 200 ms on Windows), which then dominates every file's transfer on a
// fast link. So it is asked for (wait_ack) only where answers are likely to be lost.
#pragma once
#include <functional>

#include "server/asio_config.h"

// Calls then(true) once the answer has left (with wait_ack: has been acknowledged) and gap_ms
// more have passed; then(false) when that has not happened within limit_ms.
void pace_after_answer(asio::ip::tcp::socket &socket, asio::steady_timer &timer, int gap_ms,
                       int limit_ms, std::function<void(bool)> then, bool wait_ack = false);
