// Streaming an open file into a non-blocking socket without copying it through user space.
#pragma once
#include <cstdint>

struct file_stream {
    int fd = -1;
    uint64_t offset = 0;
    uint64_t end = 0;  // the size announced to the client; exactly this much is sent
};

inline uint64_t file_stream_left(const file_stream *stream) { return stream->end - stream->offset; }

// Sends at most max bytes. Returns the count sent (> 0), 0 when the socket cannot take more
// now, or -1 on a socket error or when the file ended before its announced size.
long long file_stream_send(int socket_fd, file_stream *stream, uint64_t max);

void file_stream_close(file_stream *stream);
