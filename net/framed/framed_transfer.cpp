// One library file over the framed file service: a TCP connection of its own, one request
// packet, one answer packet, then the file's bytes acknowledged with "NEXT" until the server
// closes. Each "NEXT" stands for one chunk (1024 bytes) taken: the data is read in receives
// of up to 256 chunks, and each receive of n bytes is answered with one "NEXT" per started
// chunk, all in one send. A server that sends one chunk and waits for its "NEXT" sees exactly
// one per chunk, as before; one that streams ahead on credit gets the same credit per byte,
// for two system calls per receive instead of two per KiB. The bytes are staged beside the
// target, which is replaced only after the server's orderly close and the caller's size/CRC
// check, so a refused, broken or stalled transfer leaves the previous file exactly as it was.
#include "net/framed/framed_transfer.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/library_name.h"
#include "core/packet_codec.h"
#include "net/bounded_receive.h"
#include "net/framed/packet_stream.h"
#include "net/framed/staged_file.h"
#include "net/net_timeouts.h"
#include "net/text/text_channel.h"

enum { TARGET_PATH_MAX = 259 };
enum { NEXT_SIZE = 4, CHUNKS_PER_RECEIVE = 256, RECEIVE_SIZE_MAX = 256 * 1024 };

static const char NEXT_MARK[NEXT_SIZE] = {'N', 'E', 'X', 'T'};

// The most one receive takes: 256 chunks, but no more than 256 KiB unless a chunk is larger.
// Measured under Wine, 64 KiB receives left the framed install at about two thirds of the
// text channel's speed; 256 KiB brings it level.
static int receive_size_for(int chunk_size)
{
    if (chunk_size >= RECEIVE_SIZE_MAX / CHUNKS_PER_RECEIVE)
        return chunk_size > RECEIVE_SIZE_MAX ? chunk_size : RECEIVE_SIZE_MAX;
    return chunk_size * CHUNKS_PER_RECEIVE;
}

// One "NEXT" per started chunk of a piece: one send for a whole receive (the bytes that came
// with the answer may need a few).
static void acknowledge(SOCKET s, uint32_t length, int chunk_size)
{
    char marks[CHUNKS_PER_RECEIVE * NEXT_SIZE];
    uint32_t count =
        (length + static_cast<uint32_t>(chunk_size) - 1) / static_cast<uint32_t>(chunk_size);
    uint32_t filled = count < uint32_t(CHUNKS_PER_RECEIVE) ? count : uint32_t(CHUNKS_PER_RECEIVE);
    for (uint32_t i = 0; i < filled; i++)
        std::memcpy(marks + i * NEXT_SIZE, NEXT_MARK, NEXT_SIZE);
    while (count > 0) {
        uint32_t batch = count < filled ? count : filled;
        send(s, marks, static_cast<int>(batch * NEXT_SIZE), 0);
        count -= batch;
    }
}

static void set_failure(int *failure, int reason)
{
    if (failure != nullptr)
        *failure = reason;
}

static void set_transfer_timeouts(SOCKET s)
{
    DWORD timeout = static_cast<DWORD>(g_net_timeouts.file_receive_ms);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout),
               sizeof timeout);
}

static int too_long_for(const transfer_check *check, uint64_t size)
{
    return check != nullptr && check->check_size && size > check->size;
}

// Stores one received piece and acknowledges it. INSTALL_OK to go on.
static int take_piece(SOCKET s, staged_file *staged, const char *data, int length, int chunk_size,
                      const transfer_check *check)
{
    if (!staged_file_write(staged, data, static_cast<uint32_t>(length)))
        return INSTALL_LOCAL_ERROR;
    // More bytes than the catalogue announced: stop now rather than fill the disk.
    if (too_long_for(check, staged->size))
        return INSTALL_DAMAGED;
    acknowledge(s, static_cast<uint32_t>(length), chunk_size);
    return INSTALL_OK;
}

// Request, answer and data phase on a connected socket; the target is replaced on success.
static int run_transfer(SOCKET s, const char *name, const char *target, char *data, int data_size,
                        int chunk_size, char *extra, const transfer_check *check)
{
    set_transfer_timeouts(s);
    // Each receive ends at its time-out; the whole transfer, answer included, at its rate.
    transfer_bound bound;
    begin_transfer_bound(&bound);

    framed_packet request;
    std::memset(&request, 0, sizeof request);
    init_packet(&request, nullptr, KIND_REQUEST, SUB_FILE, 0, name,
                static_cast<uint16_t>(std::strlen(name)));
    send_packet_stream(s, &request);

    framed_packet answer;
    std::memset(&answer, 0, sizeof answer);
    int extra_count = 0;
    int received = receive_packet_stream(s, &answer, extra, PACKET_MAX_BODY, &extra_count);
    int32_t value = answer.value;
    int cut_short = answer.malformed;
    release_packet(&answer);
    // No answer, part of a header, or a body cut short (its rest would pass for file data):
    // the transfer broke off before it began.
    if (received < PACKET_HEADER_SIZE || cut_short)
        return INSTALL_BROKEN;
    if (value != PACKET_ACCEPTED)
        return INSTALL_REFUSED;
    if (!note_received(&bound, received))
        return INSTALL_TOO_SLOW;

    staged_file staged;
    if (!staged_file_begin(&staged, target))
        return INSTALL_LOCAL_ERROR;
    staged_file_expect(&staged, check);
    int outcome = INSTALL_OK;
    // Bytes that came in behind the answer are the file's first bytes.
    if (extra_count > 0)
        outcome = take_piece(s, &staged, extra, extra_count, chunk_size, check);
    while (outcome == INSTALL_OK) {
        int n = bounded_receive(s, data, data_size, &bound);
        if (n == 0)
            break;  // the server's orderly close ends the file
        if (n == RECEIVE_TOO_SLOW) {
            outcome = INSTALL_TOO_SLOW;
            break;
        }
        if (n < 0) {
            outcome = INSTALL_BROKEN;  // reset or receive time-out
            break;
        }
        outcome = take_piece(s, &staged, data, n, chunk_size, check);
    }
    if (outcome == INSTALL_OK && check != nullptr &&
        ((check->check_size && staged.size != check->size) ||
         (check->check_crc && staged.crc != check->crc)))
        outcome = INSTALL_DAMAGED;
    if (outcome != INSTALL_OK) {
        staged_file_abort(&staged);
        return outcome;
    }
    return staged_file_commit(&staged);
}

int download_file_framed(const char *name, const sockaddr_in *server, int port, int chunk_size,
                         const transfer_check *check, int *failure)
{
    set_failure(failure, INSTALL_OK);
    // Everything that can be refused is refused before a file or a socket is touched.
    if (name == nullptr || !library_name_is_safe(name) ||
        std::strlen(LIBRARY_FOLDER) + std::strlen(name) > TARGET_PATH_MAX) {
        set_failure(failure, INSTALL_BAD_NAME);
        return TRANSFER_FAILED;
    }
    if (server == nullptr || port <= 0 || port > 65535) {
        set_failure(failure, INSTALL_NO_CONNECTION);
        return TRANSFER_FAILED;
    }
    if (chunk_size <= 0) {
        set_failure(failure, INSTALL_LOCAL_ERROR);
        return TRANSFER_FAILED;
    }
    char target[MAX_PATH];
    install_path(target, name);

    char folder[MAX_PATH];
    std::strcpy(folder, LIBRARY_FOLDER);
    folder[std::strlen(folder) - 1] = '\0';
    int data_size = receive_size_for(chunk_size);
    char *data = static_cast<char *>(std::malloc(static_cast<size_t>(data_size)));
    char *extra = static_cast<char *>(std::calloc(1, PACKET_MAX_BODY));
    if (data == nullptr || extra == nullptr || !ensure_directory(folder)) {
        std::free(data);
        std::free(extra);
        set_failure(failure, INSTALL_LOCAL_ERROR);
        return TRANSFER_FAILED;
    }

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        std::fputs("sock create error", stdout);
        std::fflush(stdout);
        std::free(data);
        std::free(extra);
        set_failure(failure, INSTALL_NO_CONNECTION);
        return TRANSFER_NO_CONNECTION;
    }
    sockaddr_in destination;
    std::memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_addr = server->sin_addr;
    destination.sin_port = htons(static_cast<u_short>(port));

    int result;
    if (connect_with_timeout(s, &destination, g_net_timeouts.file_connect_ms) < 0) {
        set_failure(failure, INSTALL_NO_CONNECTION);
        result = TRANSFER_NO_CONNECTION;
    } else {
        int outcome = run_transfer(s, name, target, data, data_size, chunk_size, extra, check);
        set_failure(failure, outcome);
        result = outcome == INSTALL_OK ? TRANSFER_INSTALLED : TRANSFER_FAILED;
    }
    closesocket(s);
    std::free(data);
    std::free(extra);
    return result;
}

void install_path(char *dest, const char *name)
{
    if (dest == nullptr)
        return;
    // Bounded to the 260 bytes every caller provides; callers check the length first.
    std::snprintf(dest, MAX_PATH, "%s%s", LIBRARY_FOLDER, name != nullptr ? name : "");
}

int is_directory(const char *path)
{
    if (path == nullptr || path[0] == '\0')
        return 0;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int ensure_directory(const char *path)
{
    if (is_directory(path))
        return 1;
    if (path == nullptr || path[0] == '\0')
        return 0;
    int made = SHCreateDirectoryExA(nullptr, path, nullptr);
    // "Already exists" may also mean a plain file of that name: only a folder will do.
    if (made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS)
        return is_directory(path);
    return 0;
}
