// The text protocol's single TCP connection. Every blocking step is bounded by
// g_net_timeouts.text_ms: the connect through select, send and receive through the socket
// time-outs.
#include "net/text/text_channel.h"

#include <cstring>

#include "net/host_address.h"
#include "net/net_timeouts.h"
#include "net/server_address.h"

SOCKET g_channel_socket = 0;
sockaddr_in g_channel_address = {};
HANDLE g_socket_mutex = nullptr;

enum { CHANNEL_RECEIVE_BUFFER = 1024000, CHANNEL_LINGER_SECONDS = 1 };

static int set_channel_options(SOCKET s)
{
    linger lg;
    lg.l_onoff = 1;
    lg.l_linger = CHANNEL_LINGER_SECONDS;
    if (setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&lg), sizeof lg) != 0)
        return 0;
    // Winsock takes the time-outs as a DWORD of milliseconds.
    DWORD timeout = static_cast<DWORD>(g_net_timeouts.text_ms);
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout),
                   sizeof timeout) != 0)
        return 0;
    if (setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout),
                   sizeof timeout) != 0)
        return 0;
    int buffer = CHANNEL_RECEIVE_BUFFER;
    if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&buffer),
                   sizeof buffer) != 0)
        return 0;
    return 1;
}

// A new TCP socket with the channel's options: the socket, or INVALID_SOCKET with *result
// set to CHANNEL_NO_SOCKET or CHANNEL_OPTION_FAILED.
static SOCKET new_channel_socket(int *result)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        *result = CHANNEL_NO_SOCKET;
        return INVALID_SOCKET;
    }
    if (!set_channel_options(s)) {
        closesocket(s);
        *result = CHANNEL_OPTION_FAILED;
        return INVALID_SOCKET;
    }
    return s;
}

int open_text_channel()
{
    if (g_channel_socket != 0) {
        closesocket(g_channel_socket);
        g_channel_socket = 0;
    }
    int result = 0;
    SOCKET s = new_channel_socket(&result);
    if (s == INVALID_SOCKET)
        return result;
    g_channel_socket = s;

    g_channel_address.sin_family = AF_INET;
    g_channel_address.sin_port = htons(g_server_address.port);
    // A failed look-up keeps the previous destination on purpose: the last server that
    // answered is the best guess while the name service is unavailable.
    resolve_host(g_server_address.host, &g_channel_address.sin_addr);

    if (connect_with_timeout(s, &g_channel_address, g_net_timeouts.text_ms) >= 0)
        return CHANNEL_OPEN;
    // A socket whose connect failed cannot connect again, so the second attempt gets a
    // fresh one with the same options.
    closesocket(s);
    g_channel_socket = 0;
    Sleep(static_cast<DWORD>(g_net_timeouts.connect_retry_ms));
    s = new_channel_socket(&result);
    if (s == INVALID_SOCKET)
        return result;
    g_channel_socket = s;
    if (connect_with_timeout(s, &g_channel_address, g_net_timeouts.text_ms) >= 0)
        return CHANNEL_OPEN;
    closesocket(s);
    g_channel_socket = 0;
    return CHANNEL_NO_CONNECTION;
}

static int set_blocking(SOCKET s, int blocking)
{
    u_long mode = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}

int connect_with_timeout(SOCKET s, const sockaddr_in *address, int timeout_ms)
{
    if (address == nullptr || !set_blocking(s, 0))
        return CONNECT_FAILED;
    if (connect(s, reinterpret_cast<const sockaddr *>(address), sizeof *address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return CONNECT_FAILED;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval wait;
        wait.tv_sec = timeout_ms / 1000;
        wait.tv_usec = (timeout_ms % 1000) * 1000;
        int ready = select(0, nullptr, &writable, &failed, &wait);
        if (ready < 0)
            return CONNECT_FAILED;
        if (ready == 0) {
            WSASetLastError(WSAETIMEDOUT);
            return CONNECT_FAILED;
        }
        if (FD_ISSET(s, &failed))
            return CONNECT_FAILED;
        // Some stacks report a refused connect as writable; the pending error settles it.
        int pending = 0;
        int length = sizeof pending;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&pending), &length) == 0 &&
            pending != 0) {
            WSASetLastError(pending);
            return CONNECT_FAILED;
        }
    }
    return set_blocking(s, 1) ? CONNECT_DONE : CONNECT_FAILED;
}

void close_text_channel()
{
    if (g_channel_socket != 0) {
        shutdown(g_channel_socket, SD_BOTH);
        closesocket(g_channel_socket);
    }
    g_channel_socket = 0;
}

int text_exchange(SOCKET s, const char *request, char *answer, int answer_size)
{
    if (answer != nullptr && answer_size > 0)
        answer[0] = '\0';
    if (request != nullptr && answer != nullptr && answer_size > 0) {
        // The terminating NUL is part of the request on the wire.
        int length = static_cast<int>(std::strlen(request)) + 1;
        if (send(s, request, length, 0) > 0) {
            int received = recv(s, answer, answer_size, 0);
            if (received > 0)
                return received;
        }
    }
    pass_socket_mutex();
    return 0;
}

void pass_socket_mutex()
{
    // Waits until no other thread is inside a guarded section; holds nothing afterwards.
    if (g_socket_mutex != nullptr)
        WaitForSingleObject(g_socket_mutex, INFINITE);
    if (g_socket_mutex != nullptr)
        ReleaseMutex(g_socket_mutex);
}
