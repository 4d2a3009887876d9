// The text protocol over TCP: "#REQ:UPDATELIST" and "#REQ:FTP_RCV:name", NUL-terminated,
// many requests per connection.
#pragma once
#include "server/server_context.h"

enum {
    TEXT_MAX_REQUEST = 512,  // "#REQ:FTP_RCV:" + a 246-byte name fits with room to spare
};

// Accepts connections on the acceptor until it is closed.
void start_text_service(server_context *ctx, asio::ip::tcp::acceptor *acceptor);
