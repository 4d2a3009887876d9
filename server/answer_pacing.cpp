#include "server/answer_pacing.h"

#include <chrono>
#include <linux/sockios.h>
#include <sys/ioctl.h>

// Bytes written but not yet acknowledged by the peer; 0 also when the query fails, so that a
// system without the query falls back to the plain pause.
static int unacknowledged_bytes(int fd)
{
    int count = 0;
    if (ioctl(fd, SIOCOUTQ, &count) != 0)
        return 0;
    return count;
}

static void wait_for_ack(asio::ip::tcp::socket &socket, asio::steady_timer &timer, int gap_ms,
                         std::chrono::steady_clock::time_point give_up, std::function<void(bool)> then)
{
    if (unacknowledged_bytes(socket.native_handle()) == 0) {
        timer.expires_after(std::chrono::milliseconds(gap_ms));
        timer.async_wait([then](const asio::error_code &ec) {
            if (ec != asio::error::operation_aborted)
                then(true);
        });
        return;
    }
    if (std::chrono::steady_clock::now() >= give_up) {
        then(false);
        return;
    }
    timer.expires_after(std::chrono::milliseconds(2));
    timer.async_wait([&socket, &timer, gap_ms, give_up, then](const asio::error_code &ec) {
        if (ec == asio::error::operation_aborted || !socket.is_open())
            return;
        wait_for_ack(socket, timer, gap_ms, give_up, then);
    });
}

void pace_after_answer(asio::ip::tcp::socket &socket, asio::steady_timer &timer, int gap_ms, int limit_ms,
                       std::function<void(bool)> then)
{
    wait_for_ack(socket, timer, gap_ms,
                 std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms), std::move(then));
}
