#include "web_peer.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <memory>
#include <mutex>
#include <thread>

#include "peer_sockets.h"

static const char ETAG[] = "\"pvs-1\"";

// One request head, up to its blank line; false when the client closed or went quiet.
static bool read_head(SOCKET s, std::string *head)
{
    head->clear();
    char c;
    while (head->size() < 16384) {
        if (recv(s, &c, 1, 0) != 1)
            return false;
        head->push_back(c);
        if (head->size() >= 4 && head->compare(head->size() - 4, 4, "\r\n\r\n") == 0)
            return true;
    }
    return false;
}

std::string header_value(const std::string &head, const std::string &name)
{
    std::string lower = head, wanted = "\r\n" + name + ":";
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), ::tolower);
    size_t at = lower.find(wanted);
    if (at == std::string::npos)
        return "";
    size_t start = head.find_first_not_of(' ', at + wanted.size());
    size_t end = head.find("\r\n", start);
    return head.substr(start, end - start);
}

static bool send_text(SOCKET s, const std::string &text)
{
    return send_all(s, text.data(), text.size());
}

static std::string head_of(int status, const std::string &reason, const std::string &fields)
{
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + fields + "\r\n";
}

static std::string length_field(size_t length)
{
    return "Content-Length: " + std::to_string(length) + "\r\n";
}

// 200, or 206 for a Range whose If-Range names this version. False: close the connection.
static bool serve_whole_or_rest(SOCKET s, const std::string &head, const std::string &bytes)
{
    std::string range = header_value(head, "Range");
    size_t from = 0;
    if (range.compare(0, 6, "bytes=") == 0 && header_value(head, "If-Range") == ETAG)
        from = std::min(bytes.size(), (size_t)std::stoull(range.substr(6)));
    std::string fields = length_field(bytes.size() - from) + "ETag: " + ETAG + "\r\n";
    if (from == 0)
        return send_text(s, head_of(200, "OK", fields) + bytes);
    fields += "Content-Range: bytes " + std::to_string(from) + "-" +
              std::to_string(bytes.size() - 1) + "/" + std::to_string(bytes.size()) + "\r\n";
    return send_text(s, head_of(206, "Partial Content", fields) + bytes.substr(from));
}

static bool trickle(SOCKET s, const std::string &bytes)
{
    // The connection ends with the body, and says so: a client may not pool it for its next file.
    if (!send_text(s, head_of(200, "OK", length_field(bytes.size()) + "Connection: close\r\n")))
        return false;
    // Bounded: 500 pieces at most, whatever the client does.
    for (size_t at = 0, n = 0; at < bytes.size() && n < 500; at += 16, ++n) {
        if (!send_all(s, bytes.data() + at, std::min<size_t>(16, bytes.size() - at)))
            return false;
        Sleep(20);
    }
    return false;
}

// One byte every 100 ms, at most 200 of them (20 s, whatever the client does), until the test
// stops the peer; false when the client went away or the peer stops.
static bool drip(SOCKET s, const std::string &text, text_peer *peer)
{
    for (size_t at = 0; at < text.size() && at < 200; ++at) {
        {
            std::lock_guard<std::mutex> hold(peer->lock);
            if (peer->listener == INVALID_SOCKET)
                return false;
        }
        if (!send_all(s, text.data() + at, 1))
            return false;
        Sleep(100);
    }
    return true;
}

static bool trickle_head(SOCKET s, const std::string &bytes, text_peer *peer)
{
    std::string head =
        head_of(200, "OK", length_field(bytes.size()) + "X-Pad: " + std::string(140, 'p') + "\r\n");
    if (drip(s, head.substr(0, head.size() - 1), peer))
        send_text(s, head.substr(head.size() - 1) + bytes);
    return false;
}

static std::string hex_of(size_t n)
{
    char text[16];
    snprintf(text, sizeof text, "%zx", n);
    return text;
}

// The size line of the second chunk carries a long extension, which a client skips to the
// line's end: sent a byte at a time, only a bound on the whole request can end it.
static bool trickle_chunk_line(SOCKET s, const std::string &bytes, text_peer *peer)
{
    size_t half = bytes.size() / 2;
    std::string first = hex_of(half) + "\r\n" + bytes.substr(0, half) + "\r\n";
    if (!send_text(s, head_of(200, "OK", "Transfer-Encoding: chunked\r\n") + first))
        return false;
    std::string line = hex_of(bytes.size() - half) + ";pad=" + std::string(180, 'p') + "\r\n";
    if (drip(s, line.substr(0, line.size() - 1), peer))
        send_text(s, line.substr(line.size() - 1) + bytes.substr(half) + "\r\n0\r\n\r\n");
    return false;
}

// Answers one request; false when the connection is to be closed.
static bool answer(SOCKET s, const std::string &head, const web_rule *rule, bool first,
                   text_peer *peer)
{
    if (!rule)
        return send_text(s, head_of(404, "Not Found", length_field(0)));
    const std::string &b = rule->bytes;
    switch (rule->mode) {
    case web_rule::SERVE:
        return serve_whole_or_rest(s, head, b);
    case web_rule::STATUS:
        return send_text(s, head_of(rule->status, "Scripted", length_field(0)));
    case web_rule::SHORT_BODY:
        send_text(s, head_of(200, "OK", length_field(b.size())) + b.substr(0, b.size() / 2));
        return false;
    case web_rule::LONG_LENGTH:
        return send_text(s, head_of(200, "OK", length_field(b.size() + 100)) + b +
                                std::string(100, 'x'));
    case web_rule::TRAILING_BYTES:
        return send_text(s, head_of(200, "OK", length_field(b.size())) + b + std::string(100, 'x'));
    case web_rule::NO_LENGTH:
        send_text(s, head_of(200, "OK", "Connection: close\r\n") + b);
        return false;
    case web_rule::NO_LENGTH_LONGER:
        send_text(s, head_of(200, "OK", "Connection: close\r\n") + b + std::string(100, 'x'));
        return false;
    case web_rule::REDIRECT:
        return send_text(
            s, head_of(302, "Found", "Location: " + rule->location + "\r\n" + length_field(0)));
    case web_rule::TRICKLE:
        return trickle(s, b);
    case web_rule::DROP_ONCE:
        if (first) {
            send_text(s, head_of(200, "OK", length_field(b.size()) + "ETag: " + ETAG + "\r\n") +
                             b.substr(0, b.size() / 2));
            return false;
        }
        return serve_whole_or_rest(s, head, b);
    case web_rule::PROXY_SIGN_IN:
        return send_text(
            s, head_of(407, "Proxy Authentication Required",
                       "Proxy-Authenticate: Basic realm=\"office\"\r\n" + length_field(0)));
    case web_rule::HEAD_TRICKLE:
        return trickle_head(s, b, peer);
    case web_rule::CHUNK_LINE_TRICKLE:
        return trickle_chunk_line(s, b, peer);
    case web_rule::HUGE_LENGTH:
        send_text(s, head_of(200, "OK", length_field(100u << 20)) + std::string(65536, 'h'));
        return false;
    }
    return false;
}

std::function<void(SOCKET, text_peer *)> web_server(std::vector<web_rule> rules)
{
    // Shared by the connections: a drop happens once per path, whichever connection asks.
    auto drops = std::make_shared<std::vector<int>>(rules.size(), 0);
    auto drops_lock = std::make_shared<std::mutex>();
    return [rules, drops, drops_lock](SOCKET s, text_peer *peer) {
        // A kept-alive connection the client pools ends soon after its last request, so a
        // test's peer stops without waiting long for it.
        set_receive_timeout(s, 1000);
        std::string head;
        while (read_head(s, &head)) {
            {
                std::lock_guard<std::mutex> hold(peer->lock);
                peer->requests.push_back(head);
            }
            size_t start = head.find(' ') + 1;
            std::string path = head.substr(start, head.find(' ', start) - start);
            const web_rule *rule = nullptr;
            bool first = false;
            {
                std::lock_guard<std::mutex> hold(*drops_lock);
                for (size_t i = 0; i < rules.size(); ++i)
                    if (rules[i].path == path) {
                        rule = &rules[i];
                        first = (*drops)[i]++ == 0;
                    }
            }
            if (!answer(s, head, rule, first, peer))
                return;
        }
    };
}

// ---------------------------------------------------------------- the user's proxy

static const char CONNECTIONS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
static const char CONNECTION_VALUE[] = "DefaultConnectionSettings";

static void put_dword(std::string *blob, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        blob->push_back((char)(value >> (8 * i)));
}

static void put_text(std::string *blob, const std::string &text)
{
    put_dword(blob, (uint32_t)text.size());
    *blob += text;
}

static void write_connection_settings(const std::string &blob)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, CONNECTIONS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, CONNECTION_VALUE, 0, REG_BINARY, (const BYTE *)blob.data(),
                   (DWORD)blob.size());
    RegCloseKey(key);
}

user_proxy_setting::user_proxy_setting(const std::string &proxy, const std::string &pac_url)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, CONNECTIONS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char data[4096];
        DWORD size = sizeof data, type = 0;
        had = RegQueryValueExA(key, CONNECTION_VALUE, nullptr, &type, (BYTE *)data, &size) ==
              ERROR_SUCCESS;
        if (had)
            saved.assign(data, size);
        RegCloseKey(key);
    }
    // Version, a change counter, the flags (1 direct, 2 proxy server, 4 PAC), then the
    // proxy, its bypass list and the PAC URL, each with its length.
    std::string blob;
    put_dword(&blob, 0x46);
    put_dword(&blob, 1);
    put_dword(&blob, 1 | (proxy.empty() ? 0 : 2) | (pac_url.empty() ? 0 : 4));
    put_text(&blob, proxy);
    put_text(&blob, "");
    put_text(&blob, pac_url);
    blob.append(32, '\0');
    write_connection_settings(blob);
}

user_proxy_setting::~user_proxy_setting()
{
    if (had) {
        write_connection_settings(saved);
        return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, CONNECTIONS_KEY, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, CONNECTION_VALUE);
        RegCloseKey(key);
    }
}
