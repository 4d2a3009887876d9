#include "server/probe_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "core/ack_datagram.h"
#include "core/field_split_text.h"
#include "core/file_checksum.h"
#include "core/packet_codec.h"
#include "core/text_protocol.h"

sockaddr_in probe_address(const char *host, int port)
{
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

static bool wait_for(int fd, short events, int timeout_ms)
{
    pollfd p = {fd, events, 0};
    for (;;) {
        int rc = poll(&p, 1, timeout_ms);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

int probe_connect(const char *host, int port, int timeout_ms)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = probe_address(host, port);
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    if (rc != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    if (rc != 0) {
        int error = 0;
        socklen_t len = sizeof error;
        if (!wait_for(fd, POLLOUT, timeout_ms) ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            close(fd);
            errno = error ? error : ETIMEDOUT;
            return -1;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return fd;
}

void probe_close(int fd)
{
    if (fd >= 0)
        close(fd);
}

bool probe_send_all(int fd, const void *data, size_t length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

long probe_receive(int fd, void *buffer, size_t capacity, int timeout_ms)
{
    if (!wait_for(fd, POLLIN, timeout_ms)) {
        errno = ETIMEDOUT;
        return -1;
    }
    for (;;) {
        ssize_t n = recv(fd, buffer, capacity, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool probe_text_exchange(int fd, const std::string &request, size_t capacity, std::string *answer,
                         int timeout_ms)
{
    std::string wire = request;
    wire.push_back('\0');
    if (!probe_send_all(fd, wire.data(), wire.size()))
        return false;
    std::vector<char> buffer(capacity);
    long n = probe_receive(fd, buffer.data(), capacity, timeout_ms);
    if (n <= 0)
        return false;
    answer->assign(buffer.data(), static_cast<size_t>(n));
    return true;
}

// Names what broke an exchange: the system's reason, or the peer's close.
static int broken(probe_download *out, const char *step, long rc)
{
    out->failure =
        std::string(step) + ": " + (rc == 0 ? "closed by the server" : std::strerror(errno));
    return -1;
}

int probe_text_download(int fd, const std::string &name, probe_download *out, int timeout_ms)
{
    if (!probe_text_exchange(fd, TEXT_REQUEST_FILE + name, TEXT_RECEIVE_SIZE, &out->answer,
                             timeout_ms))
        return -1;
    size_t text_length = strnlen(out->answer.data(), out->answer.size());
    out->answer_alone = text_length + 1 == out->answer.size();
    std::string text = out->answer.substr(0, text_length);
    if (text.compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_REFUSED) == 0)
        return 0;
    if (text.compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_OK) != 0)
        return -1;
    // File bytes that came with the answer are lost to the program, which would then wait in
    // vain for the rest: fail at once instead.
    if (!out->answer_alone)
        return -1;
    // The answer is cut as the program cuts it.
    std::vector<std::string> fields =
        split_field_texts(text.substr(TEXT_ANSWER_PREFIX_LENGTH), TEXT_RECORD_SEPARATOR);
    if (fields.size() < 3)
        return -1;
    long long block = std::atoll(fields[1].c_str());
    out->announced = static_cast<uint64_t>(std::atoll(fields[2].c_str()));
    if (block <= 0 || block > TEXT_RECEIVE_SIZE)
        return -1;
    std::vector<char> buffer(static_cast<size_t>(block));
    while (out->received < out->announced) {
        long n = probe_receive(fd, buffer.data(), buffer.size(), timeout_ms);
        if (n <= 0)
            return broken(out, "receive", n);
        out->crc = crc32_update(out->crc, buffer.data(), static_cast<size_t>(n));
        out->received += static_cast<uint64_t>(n);
        ++out->receives;
        if (out->keep_data)
            out->data.append(buffer.data(), static_cast<size_t>(n));
    }
    return 1;
}

int probe_udp_socket(int timeout_ms)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

bool probe_datagram_exchange(int udp_fd, const sockaddr_in &server, uint8_t kind, uint8_t sub_kind,
                             probe_exchange *out)
{
    framed_packet request;
    init_packet(&request, nullptr, kind, sub_kind, 0, nullptr, 0);
    request.reserved[0] = request.reserved[1] = 0;
    uint8_t wire[PACKET_HEADER_SIZE];
    encode_packet(&request, wire, sizeof wire);
    const sockaddr *to = reinterpret_cast<const sockaddr *>(&server);
    if (sendto(udp_fd, wire, sizeof wire, 0, to, sizeof server) != sizeof wire)
        return false;
    std::vector<uint8_t> buffer(65536);
    sockaddr_in from;
    socklen_t from_len = sizeof from;
    ssize_t n = recvfrom(udp_fd, buffer.data(), buffer.size(), 0,
                         reinterpret_cast<sockaddr *>(&from), &from_len);
    if (n != ACK_SIZE)
        return false;
    out->first_ack_code = judge_ack(buffer.data(), ACK_SIZE);
    n = recvfrom(udp_fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from),
                 &from_len);
    if (n < PACKET_HEADER_SIZE)
        return false;
    framed_packet answer;
    std::memset(&answer, 0, sizeof answer);
    std::vector<uint8_t> body(65536);
    answer.body = body.data();
    decode_packet(&answer, buffer.data(), static_cast<int>(n));
    out->kind = answer.kind;
    out->sub_kind = answer.sub_kind;
    out->value = answer.value;
    out->body.assign(reinterpret_cast<char *>(body.data()), answer.body_length);
    uint8_t ack[ACK_SIZE];
    make_ack(ack, ACK_CLIENT);
    if (sendto(udp_fd, ack, sizeof ack, 0, reinterpret_cast<sockaddr *>(&from), from_len) !=
        ACK_SIZE)
        return false;
    n = recvfrom(udp_fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from),
                 &from_len);
    if (n != ACK_SIZE)
        return false;
    out->final_code = judge_ack(buffer.data(), ACK_SIZE);
    return true;
}

int probe_framed_download(const char *host, int port, const std::string &name, probe_download *out,
                          int timeout_ms)
{
    int fd = probe_connect(host, port, timeout_ms);
    if (fd < 0)
        return broken(out, "connect", -1);
    framed_packet request;
    init_packet(&request, nullptr, KIND_REQUEST, SUB_FILE, 0, name.data(),
                static_cast<uint16_t>(name.size()));
    request.reserved[0] = request.reserved[1] = 0;
    std::vector<uint8_t> wire(PACKET_HEADER_SIZE + name.size());
    encode_packet(&request, wire.data(), static_cast<uint16_t>(wire.size()));
    if (!probe_send_all(fd, wire.data(), wire.size())) {
        broken(out, "request", -1);
        close(fd);
        return -1;
    }
    std::vector<char> first(32767);
    long n = probe_receive(fd, first.data(), first.size(), timeout_ms);
    if (n <= 0) {
        broken(out, "answer", n);
        close(fd);
        return -1;
    }
    out->answer.assign(first.data(), static_cast<size_t>(n));
    out->answer_alone = n == PACKET_HEADER_SIZE;
    // Only the value counts, as in the program; read it straight from the header.
    const uint8_t *h = reinterpret_cast<const uint8_t *>(first.data());
    out->value = n >= PACKET_HEADER_SIZE
                     ? static_cast<int32_t>((uint32_t(h[37]) << 24) | (uint32_t(h[38]) << 16) |
                                            (uint32_t(h[39]) << 8) | h[40])
                     : 0;
    if (out->value != PACKET_ACCEPTED) {
        close(fd);
        return 0;
    }
    if (out->next_after_answer && !probe_send_all(fd, "NEXT", 4)) {
        broken(out, "NEXT", -1);
        close(fd);
        return -1;
    }
    char chunk[1024];
    for (;;) {
        long got = probe_receive(fd, chunk, sizeof chunk, timeout_ms);
        if (got == 0)
            break;
        if (got < 0) {
            broken(out, "receive", got);
            close(fd);
            return -1;
        }
        out->crc = crc32_update(out->crc, chunk, static_cast<size_t>(got));
        out->received += static_cast<uint64_t>(got);
        ++out->receives;
        if (out->keep_data)
            out->data.append(chunk, static_cast<size_t>(got));
        if (!probe_send_all(fd, "NEXT", 4)) {
            broken(out, "NEXT", -1);
            close(fd);
            return -1;
        }
    }
    close(fd);
    return 1;
}
