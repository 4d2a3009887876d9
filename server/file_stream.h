// Streaming an open file into a non-blocking socket: without copying it through user space
// where the system allows (file_stream_posix.cpp), through a small buffer otherwise
// (file_stream_win.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/platform_files.h"
#include "server/platform_sockets.h"

struct file_stream {
    file_ref file = file_ref();
    bool open = false;
    uint64_t offset = 0;
    uint64_t end = 0;  // the size announced to the client; exactly this much is sent
    // Where the system has no zero-copy send: bytes read but not yet taken by the socket,
    // [staged_begin, staged_end) of staged, which starts at offset.
    std::vector<char> staged;
    size_t staged_begin = 0, staged_end = 0;
};

inline uint64_t file_stream_left(const file_stream *stream)
{
    return stream->end - stream->offset;
}

// Takes over an open file of the given size, to be sent from its start.
void file_stream_start(file_stream *stream, file_ref file, uint64_t size);

// Sends at most max bytes. Returns the count sent (> 0), 0 when the socket cannot take more
// now, or -1 on a socket error or when the file ended before its announced size.
long long file_stream_send(socket_handle socket, file_stream *stream, uint64_t max);

void file_stream_close(file_stream *stream);
