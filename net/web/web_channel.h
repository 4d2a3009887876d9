// The library over HTTP(S): one WinHTTP session for a base URL, and GET requests for paths
// below it. Windows checks the certificate (never switched off); the proxy is the user's
// (auto-detection and a PAC script included), else the machine's WinHTTP proxy; a proxy that
// asks for sign-in gets the user's Windows credentials, never a prompt. Every body is held to
// the transfer rate bound and to the size the caller expects.
#pragma once
#include <windows.h>
#include <winhttp.h>
#include <cstdint>

enum {
    WEB_URL_MAX = 1024,
    WEB_HOST_MAX = 256,
    WEB_PROXY_TEXT_MAX = 512,
    WEB_VALIDATOR_MAX = 256,
};

#define WEB_SIZE_UNKNOWN UINT64_MAX

enum web_outcome {
    WEB_OK = 0,
    WEB_BAD_URL,           // not an http:// or https:// URL with a host, or no WinHTTP
    WEB_NO_CONNECTION,     // name not resolved, connection refused or reset before an answer
    WEB_CERTIFICATE,       // the server's certificate did not verify
    WEB_PROXY_REFUSED,     // the proxy refused the request or the Windows credentials
    WEB_STATUS,            // an answer other than 200 (206 for a resumed transfer)
    WEB_REDIRECT_REFUSED,  // a redirect away from https
    WEB_TOO_LARGE,         // announced or delivered more than the caller accepts
    WEB_SHORT_BODY,        // fewer bytes than announced or expected
    WEB_LONG_BODY,         // more bytes than announced or expected
    WEB_TOO_SLOW,          // a whole rate window below the minimum rate
    WEB_TIMED_OUT,         // no byte within the receive time-out
    WEB_BROKEN,            // the transfer broke off, or the answer was no HTTP
    WEB_SINK_FAILED,       // the caller could not keep the bytes
};

// Where the proxy came from, for the log and the message line.
enum web_proxy_source {
    WEB_PROXY_DIRECT = 0,  // no proxy at all
    WEB_PROXY_USER,        // the user's proxy server setting
    WEB_PROXY_AUTO,        // auto-detection or a PAC script chose it (may be "direct")
    WEB_PROXY_MACHINE,     // WinHTTP's default (machine) proxy
};

struct web_channel {
    HINTERNET session;
    HINTERNET connection;
    int https;
    INTERNET_PORT port;
    wchar_t host[WEB_HOST_MAX];
    wchar_t base_path[WEB_URL_MAX];  // always ends in '/'
    int proxy_source;
    int proxy_named;                    // requests carry proxy (below)
    wchar_t proxy[WEB_PROXY_TEXT_MAX];  // proxy list, when proxy_named
    wchar_t proxy_bypass[WEB_PROXY_TEXT_MAX];
    char proxy_text[WEB_PROXY_TEXT_MAX];  // the proxy as the log names it ("" for direct)
};

// Parses base_url (ASCII, "http://" or "https://", a host, optional port and path, no query)
// and opens the session and the proxy decision. WEB_OK or WEB_BAD_URL; close it in any case.
int web_channel_open(web_channel *channel, const char *base_url);
void web_channel_close(web_channel *channel);

// Receives the body's bytes as they arrive; 0 stops the transfer (WEB_SINK_FAILED).
typedef int (*web_sink)(void *context, const void *data, uint32_t length);

struct web_request {
    const char *path;        // below the base URL, already percent-encoded ASCII
    uint64_t expected_size;  // the body must be exactly this long, or WEB_SIZE_UNKNOWN
    uint64_t max_size;       // the longest body accepted when the size is unknown
    int may_resume;          // a drop is continued once with Range and If-Range
    web_sink sink;
    void *context;
};

struct web_response {
    int outcome;        // web_outcome
    DWORD status;       // HTTP status of the last answer (0 when none came)
    DWORD error;        // the system error behind a failure (0 when none)
    uint64_t received;  // bytes given to the sink
    int resumed;        // 1 when a Range request continued the transfer
};

// One GET. The sink sees every byte once, in order; on failure the caller drops what it kept.
// Each of its requests (the first and a continuation) ends by web_request_deadline_ms of the
// bytes it carries, whatever the server does (WEB_TOO_SLOW then).
int web_get(web_channel *channel, const web_request *request, web_response *response);
DWORD web_request_deadline_ms(uint64_t body_bytes);

// Words for the log and the message lines (res/texts.h).
const char *web_outcome_text(int outcome);
