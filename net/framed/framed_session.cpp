// The datagram request session: requests go out as acknowledged datagrams and one answer of
// the same kind and sub-kind is awaited, with a bounded number of tries.
#include "net/framed/framed_session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/packet_codec.h"
#include "net/framed/acked_datagram.h"
#include "net/host_address.h"
#include "net/net_timeouts.h"

framed_session *g_framed_session = nullptr;
void (*g_exchange_try_observer)(int attempt, int tries) = nullptr;

// Answers of the wrong kind are dropped and the request is sent again. The first few are
// free, as a server may still be answering an earlier request; after that each one costs a
// try, so a server that never gives the right kind cannot hold the client forever.
enum { FREE_WRONG_ANSWERS = 3 };

static void report_timeout_failure()
{
    char text[256] = "";
    int error = WSAGetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::fprintf(stderr, "setsockopt (SO_RCVTIMEO): %s\n", text);
}

framed_session *create_session(const char *host, uint16_t port)
{
    framed_session *session = static_cast<framed_session *>(std::calloc(1, sizeof *session));
    if (session == nullptr)
        return nullptr;
    session->request_buffer = static_cast<uint8_t *>(std::calloc(1, SESSION_BUFFER_SIZE));
    session->answer_buffer = static_cast<uint8_t *>(std::calloc(1, SESSION_BUFFER_SIZE));
    if (session->request_buffer == nullptr || session->answer_buffer == nullptr) {
        std::free(session->request_buffer);
        std::free(session->answer_buffer);
        std::free(session);
        return nullptr;
    }
    session->buffer_size = SESSION_BUFFER_SIZE;
    session->address_length = sizeof(sockaddr_in);

    // Without a socket the session still exists; each of its sends fails at once, so every
    // exchange ends quickly with failure.
    session->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (session->socket == INVALID_SOCKET) {
        std::fputs("sock create error", stdout);
        std::fflush(stdout);
    } else {
        DWORD timeout = static_cast<DWORD>(g_net_timeouts.datagram_ms);
        if (setsockopt(session->socket, SOL_SOCKET, SO_RCVTIMEO,
                       reinterpret_cast<const char *>(&timeout), sizeof timeout) != 0)
            report_timeout_failure();
    }
    set_server_address(&session->server, host, port);
    return session;
}

void release_session(framed_session *session)
{
    if (session == nullptr)
        return;
    std::free(session->request_buffer);
    std::free(session->answer_buffer);
    if (session->socket != INVALID_SOCKET)
        closesocket(session->socket);
    std::free(session);
}

void set_server_address(sockaddr_in *address, const char *host, uint16_t port)
{
    if (address == nullptr || host == nullptr)
        return;
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    resolve_host(host, &address->sin_addr);
}

int send_packet_datagram(const framed_packet *packet, SOCKET s, const sockaddr_in *to,
                         uint8_t *buffer, int capacity)
{
    if (packet == nullptr || to == nullptr)
        return EXCHANGE_FAILED;
    uint16_t size = packet_size(packet);
    uint8_t *out = buffer;
    uint8_t *temporary = nullptr;
    if (out == nullptr || capacity < size) {
        temporary = static_cast<uint8_t *>(std::calloc(1, size));
        if (temporary == nullptr)
            return EXCHANGE_FAILED;
        out = temporary;
    }
    int encoded = encode_packet(packet, out, size);
    int result =
        encoded > 0 ? send_acked(s, out, static_cast<uint16_t>(encoded), to, 0) : EXCHANGE_FAILED;
    std::free(temporary);
    return result;
}

int receive_packet_datagram(framed_packet *packet, SOCKET s, const sockaddr_in *peer)
{
    if (packet == nullptr || packet->body == nullptr || peer == nullptr)
        return EXCHANGE_FAILED;
    // The body storage doubles as the receive area; its capacity rides in body_length.
    uint16_t capacity = packet->body_length;
    int received = receive_acked(s, packet->body, capacity, peer);
    if (received >= PACKET_HEADER_SIZE) {
        // The body moves to the start of the storage and gets a NUL behind it; a declared
        // length that cannot fit there is malformed, not something to write past the end.
        int declared = (packet->body[41] << 8) | packet->body[42];
        if (declared <= PACKET_MAX_BODY && declared + 1 > capacity) {
            packet->malformed = 1;
            return received;
        }
    }
    decode_packet(packet, packet->body, received);
    return received;
}

int framed_exchange(framed_session *session, const framed_packet *request, uint8_t *storage,
                    int capacity, int32_t *value)
{
    if (session == nullptr || request == nullptr || storage == nullptr ||
        capacity < PACKET_HEADER_SIZE)
        return EXCHANGE_FAILED;
    if (capacity > SESSION_BUFFER_SIZE)
        capacity = SESSION_BUFFER_SIZE;

    framed_packet answer;
    int tries = 0;
    int wrong_answers = 0;
    int matched = 0;
    // The whole exchange gets what its tries would take if each simply timed out: a server
    // that acknowledges late and answers with the wrong kind cannot stretch it beyond that.
    ULONGLONG started = GetTickCount64();
    ULONGLONG allowed = static_cast<ULONGLONG>(g_net_timeouts.datagram_tries) *
                        static_cast<ULONGLONG>(g_net_timeouts.datagram_ms);
    while (!matched && tries < g_net_timeouts.datagram_tries) {
        if (GetTickCount64() - started > allowed)
            break;
        if (g_exchange_try_observer != nullptr)
            g_exchange_try_observer(tries + 1, g_net_timeouts.datagram_tries);
        if (send_packet_datagram(request, session->socket, &session->server,
                                 session->request_buffer, session->buffer_size) <= 0) {
            tries++;
            continue;
        }
        std::memset(&answer, 0, sizeof answer);
        answer.body = storage;
        answer.body_length = static_cast<uint16_t>(capacity);
        // Only the server's own datagrams are answers; the layer below ignores the rest.
        int received = receive_packet_datagram(&answer, session->socket, &session->server);
        // No answer, a fragment shorter than a header, or a body cut short: a failed try.
        if (received < PACKET_HEADER_SIZE || answer.malformed) {
            tries++;
            continue;
        }
        if (answer.kind == KIND_REFUSAL && answer.sub_kind == SUB_REFUSAL)
            return EXCHANGE_FAILED;
        if (answer.kind == request->kind && answer.sub_kind == request->sub_kind) {
            matched = 1;
        } else if (++wrong_answers > FREE_WRONG_ANSWERS) {
            tries++;
        }
    }
    if (!matched)
        return EXCHANGE_FAILED;
    if (value != nullptr)
        *value = answer.value;
    return answer.body_length;
}

int request_port(framed_session *session)
{
    if (session == nullptr)
        return 0;
    framed_packet request;
    std::memset(&request, 0, sizeof request);
    init_packet(&request, nullptr, KIND_REQUEST, SUB_PORT, 0, nullptr, 0);
    int32_t port = 0;
    if (framed_exchange(session, &request, session->answer_buffer, session->buffer_size, &port) < 0)
        return 0;
    // Only a value that can be a TCP port is one; anything else is as good as no answer.
    return (port > 0 && port <= 65535) ? port : 0;
}
