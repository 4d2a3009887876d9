#include "server/answer_pacing.h"

#include <chrono>

#include "server/platform_sockets.h"

// How often a held-back answer is looked at again. Only a congested or lossy connection (or
// wait_ack) ever waits here; an answer normally leaves within the write that queued it.
static const int RECHECK_MS = 1;

static void wait_gap(asio::steady_timer &timer, int gap_ms, std::function<void(bool)> then)
{
    timer.expires_after(std::chrono::milliseconds(gap_ms));
    timer.async_wait([then](const asio::error_code &ec) {
        if (ec != asio::error::operation_aborted)
            then(true);
    });
}

static void wait_answer_out(asio::ip::tcp::socket &socket, asio::steady_timer &timer, int gap_ms,
                            bool wait_ack, std::chrono::steady_clock::time_point give_up,
                            std::function<void(bool)> then)
{
    if (socket_held_bytes(socket.native_handle(), wait_ack) == 0) {
        wait_gap(timer, gap_ms, std::move(then));
        return;
    }
    if (std::chrono::steady_clock::now() >= give_up) {
        then(false);
        return;
    }
    timer.expires_after(std::chrono::milliseconds(RECHECK_MS));
    timer.async_wait(
        [&socket, &timer, gap_ms, wait_ack, give_up, then](const asio::error_code &ec) {
            if (ec == asio::error::operation_aborted || !socket.is_open())
                return;
            wait_answer_out(socket, timer, gap_ms, wait_ack, give_up, then);
        });
}

void pace_after_answer(asio::ip::tcp::socket &socket, asio::steady_timer &timer, int gap_ms,
                       int limit_ms, std::function<void(bool)> then, bool wait_ack)
{
    wait_answer_out(socket, timer, gap_ms, wait_ack,
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms),
                    std::move(then));
}
