// A scripted HTTP/1.1 server on 127.0.0.1 for the web channel's tests, on a text_peer's
// acceptor: paths served by rules, each of which can misbehave the way a broken server, a
// cache or a trickling link does. Every request head is kept in text_peer::requests.
#pragma once
#include <winsock2.h>

#include <functional>
#include <string>
#include <vector>

#include "text_peer.h"

struct web_rule {
    std::string path;  // as requested, percent-encoded: "/catalogue.txt", "/files/..."
    std::string bytes;
    enum {
        SERVE,               // 200 with Content-Length and an ETag; answers Range/If-Range with 206
        STATUS,              // status (below) and nothing else
        SHORT_BODY,          // Content-Length of the whole, half the bytes, then close
        LONG_LENGTH,         // Content-Length and bytes 100 longer than the file
        TRAILING_BYTES,      // Content-Length of the file, then the file and 100 bytes more
        NO_LENGTH,           // no Content-Length: the bytes, then close
        NO_LENGTH_LONGER,    // no Content-Length: the bytes and 100 more, then close
        REDIRECT,            // 302 to location (below)
        TRICKLE,             // Content-Length of the whole, then 16 bytes every 20 ms
        DROP_ONCE,           // the first request gets half and a close; later ones are served
        HUGE_LENGTH,         // announces 100 MB, sends 64 KiB, then close
        PROXY_SIGN_IN,       // 407 asking for a password (Basic), as a proxy would
        HEAD_TRICKLE,        // the answer's head one byte every 100 ms (padded to ~20 s), then 200
        CHUNK_LINE_TRICKLE,  // chunked: the bytes' first half, then the next chunk-size line one
                             // byte every 100 ms (~20 s), then the rest
    } mode;
    int status = 404;
    std::string location;
};

// serve function for start_text_peer; rules are copied. An unknown path gets 404.
std::function<void(SOCKET, text_peer *)> web_server(std::vector<web_rule> rules);

// The current user's proxy as WinHTTP reads it (the connection settings under Internet
// Settings\Connections): a proxy server ("host:port") or a PAC script's URL, for one test,
// and the earlier setting put back afterwards.
struct user_proxy_setting {
    user_proxy_setting(const std::string &proxy, const std::string &pac_url = "");
    ~user_proxy_setting();
    bool had = false;
    std::string saved;
};

// A request head's value of one header ("" when absent), name in any case.
std::string header_value(const std::string &head, const std::string &name);
