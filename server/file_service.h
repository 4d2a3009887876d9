// The framed file service over TCP: one file request packet per connection, the answer
// packet alone, then the file's bytes paced by the client's "NEXT" acknowledgements.
#pragma once
#include "server/server_context.h"

enum {
    FILE_REQUEST_MAX_BODY = 246,  // a library name; anything longer is no request of ours
    CLIENT_CHUNK = 1024,          // one "NEXT" credits this much: the client has taken it
};

void start_file_service(server_context *ctx, asio::ip::tcp::acceptor *acceptor);
