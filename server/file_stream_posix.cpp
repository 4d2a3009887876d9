#include "server/file_stream.h"

#include <cerrno>
#include <sys/sendfile.h>
#include <unistd.h>

void file_stream_start(file_stream *stream, file_ref file, uint64_t size)
{
    stream->file = file;
    stream->open = true;
    stream->offset = 0;
    stream->end = size;
}

long long file_stream_send(socket_handle socket, file_stream *stream, uint64_t max)
{
    uint64_t left = file_stream_left(stream);
    if (left == 0)
        return 0;
    size_t count = static_cast<size_t>(left < max ? left : max);
    off_t offset = static_cast<off_t>(stream->offset);
    for (;;) {
        ssize_t sent = sendfile(socket, stream->file, &offset, count);
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
    if (stream->open)
        close_file(stream->file);
    stream->open = false;
    stream->offset = stream->end = 0;
}
