#include "net/web/web_channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/transfer_bound.h"
#include "net/net_timeouts.h"
#include "res/texts.h"

// The body goes to the sink in pieces of up to READ_PIECE: a piece is handed on once less
// than FLUSH_ROOM is left, more than WinHTTP ever gives at once.
enum { READ_PIECE = 1024 * 1024, FLUSH_ROOM = 64 * 1024 };

static const wchar_t USER_AGENT[] = L"Pavoset";

// ---------------------------------------------------------------- the base URL

static int widen_ascii(const char *text, wchar_t *out, size_t capacity)
{
    size_t length = strlen(text);
    if (length == 0 || length >= capacity)
        return 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        // A URL is ASCII without blanks; anything else was not meant as one.
        if (c <= 0x20 || c >= 0x7F)
            return 0;
        out[i] = (wchar_t)c;
    }
    out[length] = 0;
    return 1;
}

static int parse_base_url(web_channel *c, const char *url)
{
    wchar_t wide[WEB_URL_MAX];
    if (!url || !widen_ascii(url, wide, WEB_URL_MAX))
        return 0;
    wchar_t path[WEB_URL_MAX] = {0};
    wchar_t extra[WEB_URL_MAX] = {0};
    URL_COMPONENTS parts;
    memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = c->host;
    parts.dwHostNameLength = WEB_HOST_MAX;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = WEB_URL_MAX;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = WEB_URL_MAX;
    if (!WinHttpCrackUrl(wide, (DWORD)wcslen(wide), 0, &parts))
        return 0;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return 0;
    // The files' paths are appended to the base: a query or fragment would end up in the
    // middle of them.
    if (!c->host[0] || extra[0])
        return 0;
    c->https = parts.nScheme == INTERNET_SCHEME_HTTPS;
    c->port = parts.nPort;
    size_t length = wcslen(path);
    if (length == 0) {
        wcscpy(path, L"/");
        length = 1;
    }
    if (path[length - 1] != L'/') {
        if (length + 1 >= WEB_URL_MAX)
            return 0;
        path[length++] = L'/';
        path[length] = 0;
    }
    wcscpy(c->base_path, path);
    return 1;
}

// ---------------------------------------------------------------- the proxy

static void narrow_into(const wchar_t *text, char *out, size_t capacity)
{
    size_t i = 0;
    for (; text && text[i] && i + 1 < capacity; ++i)
        out[i] = text[i] < 0x80 ? (char)text[i] : '?';
    out[i] = 0;
}

static void use_named_proxy(web_channel *c, int source, const wchar_t *proxy, const wchar_t *bypass)
{
    c->proxy_source = source;
    c->proxy_named = 1;
    wcsncpy(c->proxy, proxy, WEB_PROXY_TEXT_MAX - 1);
    c->proxy[WEB_PROXY_TEXT_MAX - 1] = 0;
    c->proxy_bypass[0] = 0;
    if (bypass) {
        wcsncpy(c->proxy_bypass, bypass, WEB_PROXY_TEXT_MAX - 1);
        c->proxy_bypass[WEB_PROXY_TEXT_MAX - 1] = 0;
    }
    narrow_into(proxy, c->proxy_text, sizeof c->proxy_text);
}

static void free_proxy_info(WINHTTP_PROXY_INFO *info)
{
    if (info->lpszProxy)
        GlobalFree(info->lpszProxy);
    if (info->lpszProxyBypass)
        GlobalFree(info->lpszProxyBypass);
}

// Auto-detection or the PAC script, when the user's settings ask for them: 1 when it decided.
static int proxy_from_script(web_channel *c, const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG *ie,
                             const wchar_t *url)
{
    WINHTTP_AUTOPROXY_OPTIONS options;
    memset(&options, 0, sizeof options);
    if (ie->lpszAutoConfigUrl) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = ie->lpszAutoConfigUrl;
    }
    if (ie->fAutoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!options.dwFlags)
        return 0;
    // A PAC file behind a proxy that asks for sign-in gets the user's credentials too.
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info;
    memset(&info, 0, sizeof info);
    if (!WinHttpGetProxyForUrl(c->session, url, &options, &info))
        return 0;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy &&
        info.lpszProxy[0]) {
        use_named_proxy(c, WEB_PROXY_AUTO, info.lpszProxy, info.lpszProxyBypass);
    } else {
        c->proxy_source = WEB_PROXY_AUTO;
        c->proxy_named = 1;  // "no proxy" for this URL overrides the machine's proxy
        c->proxy[0] = 0;
    }
    free_proxy_info(&info);
    return 1;
}

// The user's settings first, as a browser of theirs would go; else WinHTTP's default proxy,
// which the session uses by itself.
static void decide_proxy(web_channel *c, const wchar_t *url)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie;
    memset(&ie, 0, sizeof ie);
    int have_user = WinHttpGetIEProxyConfigForCurrentUser(&ie) != FALSE;
    int decided = have_user && proxy_from_script(c, &ie, url);
    if (!decided && have_user && ie.lpszProxy && ie.lpszProxy[0]) {
        use_named_proxy(c, WEB_PROXY_USER, ie.lpszProxy, ie.lpszProxyBypass);
        decided = 1;
    }
    if (have_user) {
        if (ie.lpszAutoConfigUrl)
            GlobalFree(ie.lpszAutoConfigUrl);
        if (ie.lpszProxy)
            GlobalFree(ie.lpszProxy);
        if (ie.lpszProxyBypass)
            GlobalFree(ie.lpszProxyBypass);
    }
    if (decided)
        return;
    WINHTTP_PROXY_INFO machine;
    memset(&machine, 0, sizeof machine);
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && machine.lpszProxy &&
            machine.lpszProxy[0]) {
            c->proxy_source = WEB_PROXY_MACHINE;
            narrow_into(machine.lpszProxy, c->proxy_text, sizeof c->proxy_text);
        }
        free_proxy_info(&machine);
    }
}

// ---------------------------------------------------------------- the session

// Timeouts, and TLS 1.2 and 1.3 only: Windows 7's WinHTTP offers TLS 1.0 alone unless asked,
// and a system that does not know 1.3 refuses the pair, so 1.2 alone is asked then.
static void configure_session(HINTERNET session)
{
    // A name lookup gets the receive's patience: an office's resolver is slower than a connect.
    WinHttpSetTimeouts(session, g_net_timeouts.file_receive_ms, g_net_timeouts.file_connect_ms,
                       g_net_timeouts.file_receive_ms, g_net_timeouts.file_receive_ms);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
}

// The proxy is given when the session is opened: Wine's WinHTTP ignores WINHTTP_OPTION_PROXY,
// and Windows takes it either way.
static HINTERNET open_session(const web_channel *c)
{
    if (!c->proxy_named)
        return WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    if (!c->proxy[0])
        return WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    return WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_NAMED_PROXY, c->proxy,
                       c->proxy_bypass[0] ? c->proxy_bypass : WINHTTP_NO_PROXY_BYPASS, 0);
}

int web_channel_open(web_channel *c, const char *base_url)
{
    memset(c, 0, sizeof *c);
    if (!parse_base_url(c, base_url))
        return WEB_BAD_URL;
    // A first session asks the PAC script (it may fetch it); the one the requests use is
    // opened with the proxy decided.
    c->session = open_session(c);
    if (!c->session)
        return WEB_BAD_URL;
    configure_session(c->session);
    wchar_t url[WEB_URL_MAX];
    if (!widen_ascii(base_url, url, WEB_URL_MAX))
        return WEB_BAD_URL;
    decide_proxy(c, url);
    if (c->proxy_named) {
        WinHttpCloseHandle(c->session);
        c->session = open_session(c);
        if (!c->session)
            return WEB_BAD_URL;
        configure_session(c->session);
    }
    c->connection = WinHttpConnect(c->session, c->host, c->port, 0);
    return c->connection ? WEB_OK : WEB_BAD_URL;
}

void web_channel_close(web_channel *c)
{
    if (c->connection)
        WinHttpCloseHandle(c->connection);
    if (c->session)
        WinHttpCloseHandle(c->session);
    c->connection = nullptr;
    c->session = nullptr;
}

// ---------------------------------------------------------------- one request

static int outcome_of_error(const web_channel *c, DWORD error)
{
    // A tunnel the proxy refused (CONNECT answered 407 or 403) comes back from Wine's WinHTTP
    // as a failed secure channel rather than as the proxy's status.
    if (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR && c->proxy_named && c->proxy[0])
        return WEB_PROXY_REFUSED;
    switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
        return WEB_CERTIFICATE;
    case ERROR_WINHTTP_TIMEOUT:
        return WEB_TIMED_OUT;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return WEB_NO_CONNECTION;
    case ERROR_WINHTTP_REDIRECT_FAILED:
        return WEB_REDIRECT_REFUSED;
    default:
        return WEB_BROKEN;
    }
}

static int fail(web_response *r, int outcome, DWORD error)
{
    r->outcome = outcome;
    r->error = error;
    return outcome;
}

static DWORD query_number(HINTERNET request, DWORD which, int *present)
{
    DWORD value = 0, size = sizeof value;
    *present = WinHttpQueryHeaders(request, which | WINHTTP_QUERY_FLAG_NUMBER,
                                   WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                                   WINHTTP_NO_HEADER_INDEX) != FALSE;
    return value;
}

// Content-Length as a 64-bit number (a DWORD query would cut sizes past 4 GiB); 0 when absent.
static int query_length(HINTERNET request, uint64_t *length)
{
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    uint64_t value = 0;
    int digits = 0;
    for (const wchar_t *p = text; *p; ++p) {
        if (*p == L' ')
            continue;
        if (*p < L'0' || *p > L'9' || value > (UINT64_MAX - 9) / 10)
            return -1;  // there but unusable: no length to trust
        value = value * 10 + (uint64_t)(*p - L'0');
        ++digits;
    }
    if (!digits)
        return -1;
    *length = value;
    return 1;
}

static int query_text(HINTERNET request, DWORD which, wchar_t *out, DWORD capacity)
{
    DWORD size = capacity * sizeof(wchar_t);
    out[0] = 0;
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, out, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return 0;
    return out[0] != 0;
}

// The start of "bytes START-END/TOTAL"; -1 when there is none to read.
static int64_t content_range_start(HINTERNET request)
{
    wchar_t text[128];
    if (!query_text(request, WINHTTP_QUERY_CONTENT_RANGE, text, 128))
        return -1;
    const wchar_t *p = text;
    if (wcsncmp(p, L"bytes ", 6) != 0)
        return -1;
    p += 6;
    int64_t start = 0;
    int digits = 0;
    for (; *p >= L'0' && *p <= L'9' && start < INT64_MAX / 16; ++p, ++digits)
        start = start * 10 + (*p - L'0');
    return digits && *p == L'-' ? start : -1;
}

// Whether the answer came from somewhere other than https after an https start: the redirect
// policy forbids it, and this holds where a WinHTTP does not honour the policy.
static int downgraded(web_channel *c, HINTERNET request)
{
    if (!c->https)
        return 0;
    wchar_t url[WEB_URL_MAX];
    DWORD size = sizeof url;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_URL, url, &size))
        return 0;
    return _wcsnicmp(url, L"https://", 8) != 0;
}

static HINTERNET open_request(web_channel *c, const char *path)
{
    // A file's path can outgrow the base: a long Korean name triples in percent-encoding.
    enum { PATH_MAX_CHARS = WEB_URL_MAX * 3 };
    wchar_t relative[PATH_MAX_CHARS];
    wchar_t full[WEB_URL_MAX + PATH_MAX_CHARS];
    if (!widen_ascii(path, relative, PATH_MAX_CHARS))
        return nullptr;
    int length = _snwprintf(full, WEB_URL_MAX + PATH_MAX_CHARS, L"%ls%ls", c->base_path, relative);
    if (length < 0 || length >= WEB_URL_MAX + PATH_MAX_CHARS)
        return nullptr;
    HINTERNET request =
        WinHttpOpenRequest(c->connection, L"GET", full, nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, c->https ? WINHTTP_FLAG_SECURE : 0);
    if (!request)
        return nullptr;
    // No request goes out that could follow a redirect from https to http.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)) {
        WinHttpCloseHandle(request);
        return nullptr;
    }
    // Never sign in to the web server by itself (a server that asks would get the user's
    // Windows credentials): HIGH keeps automatic sign-in off, and exchange() answers only a
    // proxy's 407 with them, explicitly. Nothing ever prompts.
    DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon)) {
        WinHttpCloseHandle(request);
        return nullptr;
    }
    return request;
}

// Sends the request and reads the answer's head, answering a proxy's sign-in request once
// with the user's Windows credentials. WEB_OK with the status in r->status.
static int exchange(const web_channel *c, HINTERNET request, const wchar_t *headers,
                    web_response *r, volatile LONG *abandoned)
{
    int signed_in = 0;
    for (;;) {
        if (*abandoned)
            return fail(r, WEB_TOO_SLOW, 0);
        if (!WinHttpSendRequest(request, headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                                headers ? (DWORD)-1L : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request, nullptr)) {
            DWORD error = GetLastError();
            return fail(r, outcome_of_error(c, error), error);
        }
        int present = 0;
        r->status = query_number(request, WINHTTP_QUERY_STATUS_CODE, &present);
        if (!present)
            return fail(r, WEB_BROKEN, 0);
        if (r->status != HTTP_STATUS_PROXY_AUTH_REQ)
            return WEB_OK;
        DWORD schemes = 0, first = 0, target = 0;
        if (signed_in || !WinHttpQueryAuthSchemes(request, &schemes, &first, &target))
            return fail(r, WEB_PROXY_REFUSED, 0);
        // Only schemes that carry the Windows sign-in: a password scheme would need a prompt.
        DWORD scheme = (schemes & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                       : (schemes & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                 : 0;
        // Default credentials need the medium or low policy; lowered for this answer to the
        // proxy alone, and given for the proxy target only, never the server's.
        DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon);
        if (!scheme || !WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr,
                                              nullptr, nullptr))
            return fail(r, WEB_PROXY_REFUSED, 0);
        signed_in = 1;
    }
}

struct body_state {
    uint64_t announced;  // Content-Length of the whole body, or WEB_SIZE_UNKNOWN
    uint64_t limit;      // the most bytes the caller takes
    int exact;           // the body must be exactly limit bytes
};

// The body of an accepted answer into the sink, under the rate bound and the size limit.
// WinHTTP gives the body a few KiB at a time (what has arrived); the sink gets it in pieces of
// up to READ_PIECE, since one write per few KiB costs more than the transfer itself. Bytes
// held when a transfer fails are not counted as received: a continuation asks for them again.
static int read_body(const web_channel *c, HINTERNET request, const web_request *q,
                     const body_state *b, transfer_bound *bound, char *piece, web_response *r,
                     volatile LONG *abandoned)
{
    DWORD held = 0;
    for (;;) {
        // Once the caller gave up, the handle is no longer ours to call.
        if (*abandoned)
            return fail(r, WEB_TOO_SLOW, 0);
        // What has arrived, not a full piece: Wine's WinHttpReadData waits to fill the buffer,
        // and a trickle must be seen as it comes.
        DWORD available = 0, got = 0;
        DWORD room = (DWORD)READ_PIECE - held;
        if (!WinHttpQueryDataAvailable(request, &available) ||
            (available > 0 &&
             !WinHttpReadData(request, piece + held, available < room ? available : room, &got))) {
            DWORD error = GetLastError();
            return fail(r, outcome_of_error(c, error), error);
        }
        uint64_t total = r->received + held + got;
        // Bytes past the announced length are no part of the body (Wine's WinHTTP passes on
        // what a server sends beyond it).
        if (b->announced != WEB_SIZE_UNKNOWN && total > b->announced)
            return fail(r, WEB_LONG_BODY, 0);
        if (total > b->limit)
            return fail(r, b->exact ? WEB_LONG_BODY : WEB_TOO_LARGE, 0);
        held += got;
        if (held > 0 && (got == 0 || (DWORD)READ_PIECE - held < (DWORD)FLUSH_ROOM)) {
            if (!q->sink(q->context, piece, held))
                return fail(r, WEB_SINK_FAILED, 0);
            r->received += held;
            held = 0;
        }
        if (got == 0)
            break;
        if (!transfer_bound_note(bound, got, GetTickCount64()))
            return fail(r, WEB_TOO_SLOW, 0);
    }
    if (b->announced != WEB_SIZE_UNKNOWN && r->received < b->announced)
        return fail(r, WEB_SHORT_BODY, 0);
    if (b->exact && r->received < b->limit)
        return fail(r, WEB_SHORT_BODY, 0);
    return WEB_OK;
}

// Whether a failed transfer is worth its one continuation.
static int resumable(int outcome)
{
    return outcome == WEB_SHORT_BODY || outcome == WEB_BROKEN || outcome == WEB_TIMED_OUT;
}

// The answer's head against what the caller expects: the body's length when announced.
static int judge_head(HINTERNET request, const web_request *q, uint64_t offset, body_state *b,
                      web_response *r)
{
    b->exact = q->expected_size != WEB_SIZE_UNKNOWN;
    b->limit = b->exact ? q->expected_size : q->max_size;
    b->announced = WEB_SIZE_UNKNOWN;
    uint64_t length = 0;
    int has_length = query_length(request, &length);
    if (has_length < 0)
        return fail(r, WEB_BROKEN, 0);
    if (has_length > 0) {
        b->announced = offset + length;
        if (b->exact && b->announced > b->limit)
            return fail(r, WEB_LONG_BODY, 0);
        if (b->exact && b->announced < b->limit)
            return fail(r, WEB_SHORT_BODY, 0);
        if (!b->exact && b->announced > b->limit)
            return fail(r, WEB_TOO_LARGE, 0);
    }
    return WEB_OK;
}

static int status_outcome(web_response *r)
{
    if (r->status >= 300 && r->status < 400)
        return fail(r, WEB_REDIRECT_REFUSED, 0);
    return fail(r, WEB_STATUS, 0);
}

// ---------------------------------------------------------------- the deadline

// Room for the answer's head in an attempt's deadline: more than any head we accept.
enum { HEAD_ALLOWANCE_BYTES = 16 * 1024 };

// The whole of one attempt, head included: its bytes at the rate bound's floor, one rate window
// more (the bound itself allows a window before it judges) and the connect. WinHTTP judges
// time only per receive, so a head or a chunk-size line sent a byte at a time would hold a
// request for ever; this bound holds every request, whatever arrives.
DWORD web_request_deadline_ms(uint64_t body_bytes)
{
    uint64_t rate =
        (uint64_t)(g_net_timeouts.min_rate_bytes_per_s > 0 ? g_net_timeouts.min_rate_bytes_per_s
                                                           : 1);
    uint64_t bytes = body_bytes > UINT64_MAX / 2000 ? UINT64_MAX / 2000 : body_bytes;
    uint64_t ms = (bytes + HEAD_ALLOWANCE_BYTES) * 1000 / rate +
                  (uint64_t)g_net_timeouts.rate_window_ms +
                  (uint64_t)g_net_timeouts.file_connect_ms;
    return ms >= (uint64_t)INFINITE ? INFINITE - 1 : (DWORD)ms;
}

// One request and its answer, run on a thread of its own while the caller waits up to the
// deadline. At the deadline the caller closes the request, which ends a blocked call on
// Windows; Wine 8 ends it only when its receive does, so the caller does not wait for that:
// the thread finishes in the background, and the attempt's memory lives until both let go.
struct web_attempt {
    volatile LONG refs;       // the caller's and the thread's
    volatile LONG abandoned;  // set by the caller at the deadline
    CRITICAL_SECTION lock;    // the request handle's closing, and every call of the caller's sink
    HINTERNET request;
    web_channel channel;  // a copy for the outcomes; its handles are never used here
    web_request q;        // its sink is guarded_sink
    web_sink sink;
    void *context;
    const wchar_t *headers;  // range_headers for a continuation, else null
    wchar_t range_headers[WEB_VALIDATOR_MAX + 96];
    uint64_t offset;
    uint64_t kept;  // bytes the caller's sink took in this attempt
    body_state body;
    transfer_bound bound;
    char *piece;
    web_response response;
    wchar_t validator[WEB_VALIDATOR_MAX];
    int outcome;
};

// The caller's sink, never once the caller has given up: its file may be gone by then.
static int guarded_sink(void *context, const void *data, uint32_t length)
{
    web_attempt *a = (web_attempt *)context;
    EnterCriticalSection(&a->lock);
    int kept = !a->abandoned && a->sink(a->context, data, length);
    if (kept)
        a->kept += length;
    LeaveCriticalSection(&a->lock);
    return kept;
}

static void release_attempt(web_attempt *a)
{
    if (InterlockedDecrement(&a->refs) != 0)
        return;
    DeleteCriticalSection(&a->lock);
    free(a->piece);
    free(a);
}

static int run_attempt(web_attempt *a)
{
    web_response *r = &a->response;
    const web_channel *c = &a->channel;
    int outcome = exchange(c, a->request, a->headers, r, &a->abandoned);
    if (outcome == WEB_OK && downgraded(&a->channel, a->request))
        return fail(r, WEB_REDIRECT_REFUSED, 0);
    // 200 to a continuation means the bytes changed since (If-Range): what came so far
    // belongs to another file.
    DWORD wanted = a->headers ? HTTP_STATUS_PARTIAL_CONTENT : HTTP_STATUS_OK;
    if (outcome == WEB_OK && r->status != wanted)
        return status_outcome(r);
    if (outcome == WEB_OK && a->headers && content_range_start(a->request) != (int64_t)a->offset)
        return fail(r, WEB_BROKEN, 0);
    if (outcome == WEB_OK)
        outcome = judge_head(a->request, &a->q, a->offset, &a->body, r);
    if (outcome != WEB_OK)
        return outcome;
    // The validator that lets a continuation ask for the same bytes and nothing else. A weak
    // ETag may not stand in If-Range: the date does then.
    if (!a->headers &&
        (!query_text(a->request, WINHTTP_QUERY_ETAG, a->validator, WEB_VALIDATOR_MAX) ||
         wcsncmp(a->validator, L"W/", 2) == 0))
        query_text(a->request, WINHTTP_QUERY_LAST_MODIFIED, a->validator, WEB_VALIDATOR_MAX);
    return read_body(c, a->request, &a->q, &a->body, &a->bound, a->piece, r, &a->abandoned);
}

static DWORD WINAPI attempt_thread(void *context)
{
    web_attempt *a = (web_attempt *)context;
    a->outcome = run_attempt(a);
    EnterCriticalSection(&a->lock);
    if (!a->abandoned && a->request) {
        WinHttpCloseHandle(a->request);
        a->request = nullptr;
    }
    LeaveCriticalSection(&a->lock);
    release_attempt(a);
    return 0;
}

// One request (a continuation when headers are given) under its deadline. r->received counts
// on from what it held; body, bound and validator carry over to a continuation.
static int attempt(web_channel *c, const web_request *q, const wchar_t *headers, uint64_t offset,
                   body_state *body, transfer_bound *bound, wchar_t *validator, web_response *r)
{
    web_attempt *a = (web_attempt *)calloc(1, sizeof *a);
    char *piece = a ? (char *)malloc(READ_PIECE) : nullptr;
    if (!piece) {
        free(a);
        return fail(r, WEB_SINK_FAILED, 0);
    }
    a->piece = piece;
    HINTERNET request = open_request(c, q->path);
    if (!request) {
        DWORD error = GetLastError();
        free(piece);
        free(a);
        return fail(r, WEB_BAD_URL, error);
    }
    InitializeCriticalSection(&a->lock);
    a->refs = 2;
    a->request = request;
    a->channel = *c;
    a->q = *q;
    a->q.sink = guarded_sink;
    a->q.context = a;
    a->sink = q->sink;
    a->context = q->context;
    if (headers) {
        wcsncpy(a->range_headers, headers, WEB_VALIDATOR_MAX + 95);
        a->headers = a->range_headers;
    }
    a->offset = offset;
    a->body = *body;
    a->bound = *bound;
    a->response = *r;
    uint64_t expected = q->expected_size != WEB_SIZE_UNKNOWN ? q->expected_size : q->max_size;
    DWORD deadline = web_request_deadline_ms(expected > offset ? expected - offset : 0);

    HANDLE thread = CreateThread(nullptr, 0, attempt_thread, a, 0, nullptr);
    if (!thread) {
        WinHttpCloseHandle(request);
        release_attempt(a);
        release_attempt(a);
        return fail(r, WEB_SINK_FAILED, GetLastError());
    }
    DWORD waited = WaitForSingleObject(thread, deadline);
    CloseHandle(thread);
    int outcome;
    EnterCriticalSection(&a->lock);
    if (waited == WAIT_OBJECT_0) {
        *r = a->response;
        *body = a->body;
        *bound = a->bound;
        if (!headers)
            memcpy(validator, a->validator, sizeof a->validator);
        outcome = a->outcome;
    } else {
        // Too slow as a whole, whatever each receive did: the bytes the sink kept stay counted.
        a->abandoned = 1;
        if (a->request) {
            WinHttpCloseHandle(a->request);
            a->request = nullptr;
        }
        r->status = a->response.status;
        r->received += a->kept;
        outcome = fail(r, WEB_TOO_SLOW, 0);
    }
    LeaveCriticalSection(&a->lock);
    release_attempt(a);
    return outcome;
}

int web_get(web_channel *c, const web_request *q, web_response *r)
{
    memset(r, 0, sizeof *r);
    if (!c || !c->connection || !q || !q->path || !q->sink)
        return fail(r, WEB_BAD_URL, 0);
    transfer_bound bound;
    transfer_bound_start(&bound, (uint64_t)g_net_timeouts.min_rate_bytes_per_s,
                         (uint64_t)g_net_timeouts.rate_window_ms, GetTickCount64());
    wchar_t validator[WEB_VALIDATOR_MAX] = {0};
    body_state body = {WEB_SIZE_UNKNOWN, 0, 0};
    int outcome = attempt(c, q, nullptr, 0, &body, &bound, validator, r);

    if (resumable(outcome) && q->may_resume && validator[0] && r->received > 0 &&
        r->received < body.limit) {
        uint64_t offset = r->received;
        wchar_t headers[WEB_VALIDATOR_MAX + 96];
        _snwprintf(headers, sizeof headers / sizeof headers[0],
                   L"Range: bytes=%llu-\r\nIf-Range: %ls\r\n", (unsigned long long)offset,
                   validator);
        headers[sizeof headers / sizeof headers[0] - 1] = 0;
        r->resumed = 1;
        r->error = 0;
        outcome = attempt(c, q, headers, offset, &body, &bound, validator, r);
    }
    r->outcome = outcome;
    return outcome;
}

const char *web_outcome_text(int outcome)
{
    switch (outcome) {
    case WEB_OK:
        return "";
    case WEB_BAD_URL:
        return TEXT_WEB_BAD_URL;
    case WEB_NO_CONNECTION:
        return TEXT_WEB_NO_CONNECTION;
    case WEB_CERTIFICATE:
        return TEXT_WEB_CERTIFICATE;
    case WEB_PROXY_REFUSED:
        return TEXT_WEB_PROXY_REFUSED;
    case WEB_STATUS:
        return TEXT_WEB_STATUS;
    case WEB_REDIRECT_REFUSED:
        return TEXT_WEB_REDIRECT_REFUSED;
    case WEB_TOO_LARGE:
        return TEXT_WEB_TOO_LARGE;
    case WEB_SHORT_BODY:
        return TEXT_WEB_SHORT_BODY;
    case WEB_LONG_BODY:
        return TEXT_WEB_LONG_BODY;
    case WEB_TOO_SLOW:
        return TEXT_WEB_TOO_SLOW;
    case WEB_TIMED_OUT:
        return TEXT_WEB_TIMED_OUT;
    case WEB_SINK_FAILED:
        return TEXT_WEB_SINK_FAILED;
    default:
        return TEXT_WEB_BROKEN;
    }
}
