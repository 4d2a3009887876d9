#include "text_peer.h"

#include <cstring>

#include "core/text_protocol.h"
#include "net/server_address.h"
#include "peer_sockets.h"

text_peer::~text_peer()
{
    stop_text_peer(this);
}

void start_text_peer(text_peer *peer, std::function<void(SOCKET, text_peer *)> serve)
{
    peer->listener = tcp_listener(&peer->port);
    SOCKET listener = peer->listener;
    peer->acceptor = std::thread([peer, listener, serve]() {
        for (;;) {
            SOCKET s = accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            std::lock_guard<std::mutex> hold(peer->lock);
            int number = ++peer->accepted;
            peer->connections.emplace_back([peer, s, serve, number]() {
                set_receive_timeout(s, 5000);
                if (number > peer->drop_connections)
                    serve(s, peer);
                closesocket(s);
            });
        }
    });
}

void stop_text_peer(text_peer *peer)
{
    if (peer->listener != INVALID_SOCKET)
        closesocket(peer->listener);
    peer->listener = INVALID_SOCKET;
    if (peer->acceptor.joinable())
        peer->acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> hold(peer->lock);
        connections.swap(peer->connections);
    }
    for (auto &t : connections)
        t.join();
}

std::function<void(SOCKET, text_peer *)> text_file_server(const std::string &catalogue_answer,
                                                          std::vector<text_file_rule> rules)
{
    return [catalogue_answer, rules](SOCKET s, text_peer *peer) {
        std::string request;
        while (read_request(s, &request)) {
            {
                std::lock_guard<std::mutex> hold(peer->lock);
                peer->requests.push_back(request);
            }
            if (request == TEXT_REQUEST_CATALOGUE) {
                send_all(s, catalogue_answer.data(), catalogue_answer.size());
                continue;
            }
            const std::string prefix = TEXT_REQUEST_FILE;
            const text_file_rule *rule = nullptr;
            if (request.compare(0, prefix.size(), prefix) == 0)
                for (const auto &r : rules)
                    if (r.name == request.substr(prefix.size()))
                        rule = &r;
            bool refused;
            int data_pause_ms;
            {
                std::lock_guard<std::mutex> hold(peer->lock);
                refused = rule && peer->refused.count(rule->name);
                data_pause_ms = peer->data_pause_ms;
            }
            if (!rule || rule->mode == text_file_rule::REFUSE || refused) {
                static const char refused[] = TEXT_ANSWER_REFUSED "no such file";
                send_all(s, refused, sizeof refused);
                continue;
            }
            const std::string &bytes = rule->announce_bytes;
            std::string answer = TEXT_ANSWER_OK + rule->name + TEXT_RECORD_SEPARATOR "4096";
            if (rule->mode != text_file_rule::TWO_FIELDS)
                answer += TEXT_RECORD_SEPARATOR + std::to_string(bytes.size());
            answer.push_back('\0');
            if (rule->mode == text_file_rule::TWO_FIELDS) {
                send_all(s, answer.data(), answer.size());
                continue;
            }
            if (rule->mode == text_file_rule::PADDED) {
                answer.resize(4096, '\0');
                send_all(s, answer.data(), answer.size());
                send_all(s, bytes.data(), bytes.size());
                continue;
            }
            if (rule->mode == text_file_rule::SHORT_THEN_DATA) {
                send_all(s, "#EXL:", 6);
                send_all(s, bytes.data(), bytes.size());
                continue;
            }
            if (rule->mode == text_file_rule::TRICKLE) {
                send_all(s, answer.data(), answer.size());
                for (char byte : bytes) {
                    Sleep(static_cast<DWORD>(peer->trickle_ms));
                    if (send(s, &byte, 1, 0) != 1)
                        return;
                }
                continue;
            }
            if (rule->mode == text_file_rule::CLOSE_HALFWAY) {
                send_all(s, answer.data(), answer.size());
                send_all(s, bytes.data(), bytes.size() / 2);
                return;
            }
            if (data_pause_ms > 0) {
                send_all(s, answer.data(), answer.size());
                Sleep(static_cast<DWORD>(data_pause_ms));
                send_all(s, bytes.data(), bytes.size());
                continue;
            }
            // The answer and the first bytes travel together, as a busy server sends them.
            std::string first = answer + bytes.substr(0, 1000);
            send_all(s, first.data(), first.size());
            if (bytes.size() > 1000)
                send_all(s, bytes.data() + 1000, bytes.size() - 1000);
        }
    };
}

void point_client_at(u_short port)
{
    strcpy(g_server_address.host, "127.0.0.1");
    g_server_address.port = port;
}
