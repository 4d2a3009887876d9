#include "server/file_stream.h"

#include <cerrno>
#include <sys/sendfile.h>
#include <unistd.h>

long long file_stream_send(int socket_fd, file_stream *stream, uint64_t max)
{
    uint64_t left = file_stream_left(stream);
    if (left == 0)
        return 0;
    size_t count = static_cast<size_t>(left < max ? left : max);
    off_t offset = static_cast<off_t>(stream->offset);
    for (;;) {
        ssize_t sent = sendfile(socket_fd, stream->fd, &offset, count);
        if (sent > 0) {
            stream->offset += static_cast<uint64_t>(sent);
            return sent;
        }
        if (sent == 0)
            return -1;  // the file shrank under us: the announced size cannot be kept
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

void file_stream_close(file_stream *stream)
{
    if (stream->fd >= 0)
        close(stream->fd);
    stream->fd = -1;
    stream->offset = stream->end = 0;
}
