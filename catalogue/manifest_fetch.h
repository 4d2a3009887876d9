// Fetching the publisher's manifest with the ordinary file request, into memory: it is read,
// never installed.
#pragma once
#include <winsock2.h>
#include "net/framed/framed_session.h"

enum manifest_fetch_result {
    MANIFEST_FETCHED = 1,
    MANIFEST_ABSENT = 0,         // the server refused the request (it has no manifest)
    MANIFEST_OVERSIZED = -1,     // announced or delivered more than a manifest may hold
    MANIFEST_FETCH_FAILED = -2,  // no connection, broken transfer
    MANIFEST_TOO_SLOW = -3,      // the transfer stayed below the minimum rate: abandoned
};

// Over the open text channel. *text gets a malloc'd buffer (free it) of *length bytes plus a
// terminator. A transfer that cannot be followed to its end reopens the channel, so the next
// request is not answered with this one's bytes.
int fetch_manifest_text(char **text, int *length);
// Over the framed file service of session.
int fetch_manifest_framed(framed_session *session, char **text, int *length);
