// The server address shared by the main window, the channels and the settings dialog.
#pragma once

enum { SERVER_HOST_SIZE = 64, DEFAULT_SERVER_PORT = 5757 };

struct server_address {
    char host[SERVER_HOST_SIZE];  // host name or dotted IPv4, at most 63 characters
    unsigned short port;
};

// The built-in default update server. The one place the name is written.
extern const char DEFAULT_SERVER_HOST[];

extern server_address g_server_address;
