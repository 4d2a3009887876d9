// The single TCP connection of the text protocol, held in process-wide state.
#pragma once
#include <winsock2.h>
#include <windows.h>

extern SOCKET g_channel_socket;       // 0 when no connection is open
extern sockaddr_in g_channel_address; // kept from one opening to the next
extern HANDLE g_socket_mutex;         // created at start-up; may be null

// 1234 connected; -2 no socket; -3 an option failed; -4 no connection.
int open_text_channel();
// 1 connected, -1 failed (time-out sets WSAETIMEDOUT).
int connect_with_timeout(SOCKET s, const sockaddr_in *address, int timeout_ms);
void close_text_channel();
// One request (text + NUL in one send), one receive. Bytes received, or 0 on failure.
int text_exchange(SOCKET s, const char *request, char *answer, int answer_size);
void pass_socket_mutex();
