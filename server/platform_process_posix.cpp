#include "server/platform_process.h"

#include <csignal>
#include <sys/resource.h>

#include "server/server_log.h"

std::vector<std::string> utf8_arguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void ignore_broken_pipe()
{
    // Files go out through sendfile, which has no way to suppress SIGPIPE for one call.
    std::signal(SIGPIPE, SIG_IGN);
}

void raise_descriptor_limit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::shared_ptr<void> stop_on_request(asio::io_context &io, std::function<void()> stop)
{
    auto signals = std::make_shared<asio::signal_set>(io, SIGINT, SIGTERM);
    signals->async_wait([stop](const asio::error_code &ec, int signal_number) {
        if (ec)
            return;
        log_line(LOG_INFO, "signal %d: shutting down", signal_number);
        stop();
    });
    return signals;
}
