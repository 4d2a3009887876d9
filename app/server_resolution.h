// Where the server address comes from at start: the user's registry values, Offline.INI, the
// built-in default; the machine policy (HKEY_LOCAL_MACHINE) over them, and a "-ip" host over
// all of them.
#pragma once
#include "net/server_address.h"

// cmdline_host: the "-ip" text or null/empty; blanks around it are ignored, and a
// non-blank one replaces whatever host the other sources gave (the port still comes from
// them).
// Returns where the host came from (an address_source), for the run log.
int resolve_server_address(server_address *address, const char *cmdline_host);

enum address_source {
    ADDRESS_FROM_REGISTRY = 1,
    ADDRESS_FROM_OFFLINE_INI = 2,
    ADDRESS_FROM_DEFAULT = 3,
    ADDRESS_FROM_IP_OPTION = 4,  // the host only; the port is still another source's
    ADDRESS_FROM_POLICY = 5,     // the host from machine policy
};

// Words for the log: "-ip", "Offline.INI", or the registry's, the policy's and the default's
// (res/texts.h).
const char *address_source_text(int source);
