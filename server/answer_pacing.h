// Keeping an answer alone in the client's first receive. The client takes whatever its first
// receive brings as the answer and drops the rest, so file bytes must not reach it before it
// has read the answer. Nothing on the wire says when it has; the server waits until the
// client's system has acknowledged the answer (a lost and resent answer would otherwise arrive
// glued to the data) and then for a further pause.
#pragma once
#include <functional>

#include "server/asio_config.h"

// Calls then(true) once everything written on the socket is acknowledged and gap_ms more have
// passed; then(false) when the acknowledgement has not come within limit_ms.
void pace_after_answer(asio::ip::tcp::socket &socket, asio::steady_timer &timer, int gap_ms, int limit_ms,
                       std::function<void(bool)> then);
