// Where the server address comes from at start: registry, Offline.INI, the built-in
// default, and a "-ip" host over all of them.
#pragma once
#include "settings/server_address.h"

// cmdline_host: the "-ip" text or null/empty; blanks around it are ignored, and a
// non-blank one replaces whatever host the other sources gave (the port still comes from
// them).
void resolve_server_address(server_address *address, const char *cmdline_host);
