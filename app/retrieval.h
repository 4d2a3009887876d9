// One retrieval of the catalogue: the preferred protocol, then the other, the entries built
// from what came, (with a publisher key) the publisher's manifest fetched and verified, and
// every entry compared with the install folder. Blocking; the caller runs it where waiting
// does no harm (the background retrieval's thread, or the unattended run that has no window).
#pragma once
#include <windows.h>
#include "catalogue/catalogue.h"  // the PROTOCOL_* values
#include "catalogue/folder_comparison.h"

struct retrieval_result {
    int ok;              // 1: the catalogue holds the entries
    int first_protocol;  // the one tried first (the preference read from "IsPlimo")
    int used_protocol;   // the one that delivered, when ok
    int fell_back;       // the first failed and the other was tried
    int entries;         // g_catalogue_count afterwards
    // When ok and not abandoned: rows[i] is g_catalogue[i] against the install folder (with a
    // verified manifest, against its SHA-256), for the list's local size and status.
    local_row rows[CATALOGUE_MAX_ENTRIES];
};

// Progress for the user: a short text (CP949) each time the retrieval moves on.
typedef void (*retrieval_progress)(void *context, const char *text);

// Uses and replaces the shared retrieval state (channel socket, framed session, receive
// buffer, catalogue, protocol preference): the caller makes sure nothing else touches it
// meanwhile. The fallback is skipped when *abandon is nonzero by then. Logs the outcome.
void retrieve_catalogue(retrieval_result *result, retrieval_progress progress, void *context,
                        volatile LONG *abandon);

const char *protocol_name(int protocol);

// Lets go of that state: closes the channel, releases the session and the receive buffer and,
// unless keep_catalogue (an install worker still reads it), the catalogue.
void release_retrieval_state(int keep_catalogue);
