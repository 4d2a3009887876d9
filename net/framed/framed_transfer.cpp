// One library file over the framed file service: a TCP connection of its own, one request
// packet, one answer packet, then the file's bytes acknowledged with "NEXT" until the server
// closes. The bytes are staged beside the target, which is replaced only after the server's
// orderly close and the caller's size/CRC check, so a refused, broken or stalled transfer
// leaves the previous file exactly as it was.
#include "net/framed/framed_transfer.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/library_name.h"
#include "net/framed/packet_codec.h"
#include "net/framed/packet_stream.h"
#include "net/framed/staged_file.h"
#include "net/net_timeouts.h"
#include "net/text/text_channel.h"

enum { TARGET_PATH_MAX = 259 };

static const char NEXT_MARK[4] = {'N', 'E', 'X', 'T'};

static void set_failure(int *failure, int reason)
{
    if (failure != nullptr)
        *failure = reason;
}

static void set_transfer_timeouts(SOCKET s)
{
    DWORD timeout = static_cast<DWORD>(g_net_timeouts.file_receive_ms);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeout), sizeof timeout);
}

static int too_long_for(const transfer_check *check, uint64_t size)
{
    return check != nullptr && check->check_size && size > check->size;
}

// Stores one received piece and acknowledges it. INSTALL_OK to go on.
static int take_piece(SOCKET s, staged_file *staged, const char *data, int length,
                      const transfer_check *check)
{
    if (!staged_file_write(staged, data, static_cast<uint32_t>(length)))
        return INSTALL_LOCAL_ERROR;
    // More bytes than the catalogue announced: stop now rather than fill the disk.
    if (too_long_for(check, staged->size))
        return INSTALL_DAMAGED;
    send(s, NEXT_MARK, sizeof NEXT_MARK, 0);
    return INSTALL_OK;
}

// Request, answer and data phase on a connected socket; the target is replaced on success.
static int run_transfer(SOCKET s, const char *name, const char *target, char *chunk,
                        int chunk_size, char *extra, const transfer_check *check)
{
    set_transfer_timeouts(s);

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

    staged_file staged;
    if (!staged_file_begin(&staged, target))
        return INSTALL_LOCAL_ERROR;
    staged_file_expect(&staged, check);
    int outcome = INSTALL_OK;
    // Bytes that came in behind the answer are the file's first bytes.
    if (extra_count > 0)
        outcome = take_piece(s, &staged, extra, extra_count, check);
    while (outcome == INSTALL_OK) {
        int n = recv(s, chunk, chunk_size, 0);
        if (n == 0)
            break;             // the server's orderly close ends the file
        if (n < 0) {
            outcome = INSTALL_BROKEN;   // reset or receive time-out
            break;
        }
        outcome = take_piece(s, &staged, chunk, n, check);
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
        std::strlen(FRAMED_INSTALL_FOLDER) + std::strlen(name) > TARGET_PATH_MAX) {
        set_failure(failure, INSTALL_BAD_NAME);
        return 0;
    }
    if (server == nullptr || port <= 0 || port > 65535) {
        set_failure(failure, INSTALL_NO_CONNECTION);
        return 0;
    }
    if (chunk_size <= 0) {
        set_failure(failure, INSTALL_LOCAL_ERROR);
        return 0;
    }
    char target[MAX_PATH];
    install_path(target, name);

    char folder[MAX_PATH];
    std::strcpy(folder, FRAMED_INSTALL_FOLDER);
    folder[std::strlen(folder) - 1] = '\0';
    char *chunk = static_cast<char *>(std::calloc(1, static_cast<size_t>(chunk_size)));
    char *extra = static_cast<char *>(std::calloc(1, PACKET_MAX_BODY));
    if (chunk == nullptr || extra == nullptr || !ensure_directory(folder)) {
        std::free(chunk);
        std::free(extra);
        set_failure(failure, INSTALL_LOCAL_ERROR);
        return 0;
    }

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        std::fputs("sock create error", stdout);
        std::fflush(stdout);
        std::free(chunk);
        std::free(extra);
        set_failure(failure, INSTALL_NO_CONNECTION);
        return -1;
    }
    sockaddr_in destination;
    std::memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_addr = server->sin_addr;
    destination.sin_port = htons(static_cast<u_short>(port));

    int result;
    if (connect_with_timeout(s, &destination, g_net_timeouts.file_connect_ms) < 0) {
        set_failure(failure, INSTALL_NO_CONNECTION);
        result = -1;
    } else {
        int outcome = run_transfer(s, name, target, chunk, chunk_size, extra, check);
        set_failure(failure, outcome);
        result = outcome == INSTALL_OK ? 1 : 0;
    }
    closesocket(s);
    std::free(chunk);
    std::free(extra);
    return result;
}

void install_path(char *dest, const char *name)
{
    if (dest == nullptr)
        return;
    // Bounded to the 260 bytes every caller provides; callers check the length first.
    std::snprintf(dest, MAX_PATH, "%s%s", FRAMED_INSTALL_FOLDER, name != nullptr ? name : "");
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
