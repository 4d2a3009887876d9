#include "server/file_stream.h"

#include <winsock2.h>

// What one send of a non-blocking socket usually takes; whatever it leaves is sent from the
// same buffer next time, so no byte is read twice.
static const size_t STAGE_SIZE = 64 * 1024;

void file_stream_start(file_stream *stream, file_ref file, uint64_t size)
{
    stream->file = file;
    stream->open = true;
    stream->offset = 0;
    stream->end = size;
    stream->staged.resize(STAGE_SIZE);
    stream->staged_begin = stream->staged_end = 0;
}

long long file_stream_send(socket_handle socket, file_stream *stream, uint64_t max)
{
    uint64_t left = file_stream_left(stream);
    if (left == 0)
        return 0;
    if (stream->staged_begin == stream->staged_end) {
        uint64_t want = left < STAGE_SIZE ? left : STAGE_SIZE;
        long long got = read_file(stream->file, stream->staged.data(), static_cast<size_t>(want));
        if (got <= 0)
            return -1;  // the file shrank under us or cannot be read: the size cannot be kept
        stream->staged_begin = 0;
        stream->staged_end = static_cast<size_t>(got);
    }
    size_t count = stream->staged_end - stream->staged_begin;
    if (count > max)
        count = static_cast<size_t>(max);
    int sent = send(static_cast<SOCKET>(socket), stream->staged.data() + stream->staged_begin,
                    static_cast<int>(count), 0);
    if (sent == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    stream->staged_begin += static_cast<size_t>(sent);
    stream->offset += static_cast<uint64_t>(sent);
    return sent;
}

void file_stream_close(file_stream *stream)
{
    if (stream->open)
        close_file(stream->file);
    std::vector<char>().swap(stream->staged);
    stream->staged_begin = stream->staged_end = 0;
    stream->open = false;
    stream->offset = stream->end = 0;
}
