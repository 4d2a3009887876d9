#include "catalogue/manifest_fetch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/text_install.h"
#include "core/manifest.h"
#include "core/packet_codec.h"
#include "net/bounded_receive.h"
#include "net/framed/packet_stream.h"
#include "net/framed/staged_file.h"
#include "net/net_timeouts.h"
#include "net/text/text_channel.h"

static int give(char *buffer, int length, char **text, int *out_length)
{
    buffer[length] = '\0';
    *text = buffer;
    *out_length = length;
    return MANIFEST_FETCHED;
}

static int broken(char *buffer, int result)
{
    free(buffer);
    close_text_channel();
    open_text_channel();
    return result;
}

int fetch_manifest_text(char **text, int *length)
{
    *text = nullptr;
    *length = 0;
    SOCKET s = g_channel_socket;
    if (!s || s == INVALID_SOCKET)
        return MANIFEST_FETCH_FAILED;
    char *buffer = (char *)calloc(MANIFEST_MAX_BYTES + 1, 1);
    if (!buffer)
        return MANIFEST_FETCH_FAILED;
    // Read as any library file is (padding, receive sizes, the transfer's bounds), into memory.
    int failure = INSTALL_OK, channel = CHANNEL_IN_STEP;
    int size = download_text_to_memory(s, MANIFEST_FILE_NAME, buffer, MANIFEST_MAX_BYTES, &failure,
                                       &channel);
    if (size >= 0)
        return give(buffer, size, text, length);
    int result = MANIFEST_FETCH_FAILED;
    if (failure == INSTALL_REFUSED && channel == CHANNEL_IN_STEP)
        result = MANIFEST_ABSENT;
    else if (failure == INSTALL_DAMAGED)
        result = MANIFEST_OVERSIZED;
    else if (failure == INSTALL_TOO_SLOW)
        result = MANIFEST_TOO_SLOW;
    if (channel == CHANNEL_IN_STEP) {
        free(buffer);
        return result;
    }
    return broken(buffer, result);
}

int fetch_manifest_framed(framed_session *session, char **text, int *length)
{
    *text = nullptr;
    *length = 0;
    int port = session ? request_port(session) : 0;
    if (port <= 0 || port > 65535)
        return MANIFEST_FETCH_FAILED;
    char *buffer = (char *)calloc(MANIFEST_MAX_BYTES + 1, 1);
    char *extra = (char *)calloc(PACKET_MAX_BODY, 1);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in destination;
    memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_addr = session->server.sin_addr;
    destination.sin_port = htons((u_short)port);
    int result = MANIFEST_FETCH_FAILED;
    int have = 0;
    if (buffer && extra && s != INVALID_SOCKET &&
        connect_with_timeout(s, &destination, g_net_timeouts.file_connect_ms) >= 0) {
        transfer_bound bound;
        begin_transfer_bound(&bound);
        DWORD timeout = (DWORD)g_net_timeouts.file_receive_ms;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&timeout, sizeof timeout);
        framed_packet request, answer;
        memset(&request, 0, sizeof request);
        memset(&answer, 0, sizeof answer);
        init_packet(&request, nullptr, KIND_REQUEST, SUB_FILE, 0, MANIFEST_FILE_NAME,
                    (uint16_t)strlen(MANIFEST_FILE_NAME));
        send_packet_stream(s, &request);
        int extra_count = 0;
        int received = receive_packet_stream(s, &answer, extra, PACKET_MAX_BODY, &extra_count);
        int32_t value = answer.value;
        int cut_short = answer.malformed;
        release_packet(&answer);
        if (received >= PACKET_HEADER_SIZE && !cut_short && value != PACKET_ACCEPTED) {
            result = MANIFEST_ABSENT;
        } else if (received >= PACKET_HEADER_SIZE && !cut_short) {
            result = MANIFEST_FETCHED;
            if (extra_count > MANIFEST_MAX_BYTES) {
                result = MANIFEST_OVERSIZED;
            } else if (extra_count > 0) {
                memcpy(buffer, extra, (size_t)extra_count);
                have = extra_count;
                send(s, "NEXT", 4, 0);
            }
            // Until the server's orderly close; one byte of room past the limit tells an
            // oversized manifest from one that fills it exactly.
            while (result == MANIFEST_FETCHED) {
                int room = MANIFEST_MAX_BYTES + 1 - have;
                int got = room > 0
                              ? bounded_receive(s, buffer + have, room > 1024 ? 1024 : room, &bound)
                              : 0;
                if (room <= 0 || (got > 0 && have + got > MANIFEST_MAX_BYTES)) {
                    result = MANIFEST_OVERSIZED;
                } else if (got == RECEIVE_TOO_SLOW) {
                    result = MANIFEST_TOO_SLOW;
                } else if (got < 0) {
                    result = MANIFEST_FETCH_FAILED;
                } else if (got == 0) {
                    break;
                } else {
                    have += got;
                    send(s, "NEXT", 4, 0);
                }
            }
        }
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    free(extra);
    if (result != MANIFEST_FETCHED) {
        free(buffer);
        return result;
    }
    return give(buffer, have, text, length);
}
