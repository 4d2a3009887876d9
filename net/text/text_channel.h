// The single TCP connection of the text protocol, held in process-wide state.
#pragma once
#include <winsock2.h>
#include <windows.h>

extern SOCKET g_channel_socket;        // 0 when no connection is open
extern sockaddr_in g_channel_address;  // kept from one opening to the next
extern HANDLE g_socket_mutex;          // created at start-up; may be null

// The results of open_text_channel; the values are the ones callers have always seen.
enum {
    CHANNEL_OPEN = 1234,
    CHANNEL_NO_SOCKET = -2,
    CHANNEL_OPTION_FAILED = -3,
    CHANNEL_NO_CONNECTION = -4,
};
// The results of connect_with_timeout.
enum { CONNECT_DONE = 1, CONNECT_FAILED = -1 };

// CHANNEL_OPEN, or why not.
int open_text_channel();
// CONNECT_DONE or CONNECT_FAILED (a time-out sets WSAETIMEDOUT).
int connect_with_timeout(SOCKET s, const sockaddr_in *address, int timeout_ms);
void close_text_channel();
// One request (text + NUL in one send), one receive. Bytes received, or 0 on failure.
int text_exchange(SOCKET s, const char *request, char *answer, int answer_size);
void pass_socket_mutex();
