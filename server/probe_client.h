// A small blocking client of both protocols, built from the portable core, that behaves as
// the Windows program does on the wire. Used by the server tests and the load generator.
#pragma once
#include <cstdint>
#include <netinet/in.h>
#include <string>

int probe_connect(const char *host, int port, int timeout_ms);  // TCP descriptor or -1
void probe_close(int fd);
bool probe_send_all(int fd, const void *data, size_t length);
// One receive within timeout_ms: the count, 0 when the peer closed, -1 on error or time-out.
long probe_receive(int fd, void *buffer, size_t capacity, int timeout_ms);

struct probe_download {
    std::string answer;         // what the first receive brought
    bool answer_alone = false;  // the first receive held the answer and no file byte
    int32_t value = 0;          // framed: the answer's value
    uint64_t announced = 0;     // text: the announced file size
    uint64_t received = 0;
    uint32_t crc = 0;
    int receives = 0;  // data receives (each followed by "NEXT" over framed)
    bool keep_data = false;
    bool next_after_answer =
        false;  // also acknowledge the answer's receive, as PCs in the field do
    std::string data;
    std::string failure;  // why the exchange broke ("connection reset by peer", ...), for reports
};

// Text protocol: sends request + NUL, then one receive of at most capacity bytes.
bool probe_text_exchange(int fd, const std::string &request, size_t capacity, std::string *answer,
                         int timeout_ms);
// "#REQ:FTP_RCV:" download as the program does it. 1 when the file arrived in full, 0 when
// refused ("#EXL:ERR:"), -1 on a broken exchange.
int probe_text_download(int fd, const std::string &name, probe_download *out, int timeout_ms);

// One acknowledged datagram exchange: request (kind/sub-kind, no body), our view of every step.
struct probe_exchange {
    int first_ack_code = -1;  // code of the server's acknowledgement of the request
    uint8_t kind = 0, sub_kind = 0;
    int32_t value = 0;
    std::string body;
    int final_code = -1;  // code of the server's reply to our code-1 acknowledgement
};
int probe_udp_socket(int timeout_ms);
sockaddr_in probe_address(const char *host, int port);
bool probe_datagram_exchange(int udp_fd, const sockaddr_in &server, uint8_t kind, uint8_t sub_kind,
                             probe_exchange *out);

// Framed file service: request packet, answer alone, chunks of 1024 each followed by "NEXT",
// until the server closes. 1 when the answer was 1000 and the transfer ended by a close, 0
// for another answer, -1 when the connection failed.
int probe_framed_download(const char *host, int port, const std::string &name, probe_download *out,
                          int timeout_ms);
