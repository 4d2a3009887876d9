// What the server asks of a connected socket beyond Asio, one implementation per system
// (platform_sockets_posix.cpp, platform_sockets_win.cpp).
#pragma once
#include <cstdint>

#ifdef _WIN32
typedef uintptr_t socket_handle;  // a SOCKET
#else
typedef int socket_handle;
#endif

// Bytes the system still holds for the socket: with acknowledged, those the peer has not
// acknowledged yet, otherwise those not yet sent. 0 also when the system cannot tell, so that
// callers fall back to a plain pause.
int socket_held_bytes(socket_handle socket, bool acknowledged);
