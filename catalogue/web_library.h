// The library from a web server: the address in force for this run, its channel, and the
// catalogue and manifest fetched over it. While an address is in force the socket protocols
// are not tried at all; without one nothing here is used.
#pragma once
#include "core/field_list.h"
#include "net/web/web_channel.h"
#include "settings/library_url.h"

enum web_library_refusal {
    WEB_ALLOWED = 0,
    WEB_REFUSED_HTTP_WITHOUT_KEY,  // plain http:// trusts only a signed library
    WEB_REFUSED_UNREADABLE,        // the LibraryUrl setting is there but cannot be read
};

struct web_library {
    int in_force;  // an address was configured (even one that is refused)
    int refusal;   // web_library_refusal
    library_url address;
    int channel_open;
    web_channel channel;
};

// Touched by one thread at a time, as the rest of the retrieval state: the retrieval while it
// runs, then the install worker.
extern web_library g_web_library;

// Takes the address for this run and decides whether it may be used (an http:// address only
// with a PublisherKey configured). Closes any channel of an earlier address.
void set_web_library(const library_url *address);
int web_library_in_force();

// Opens the channel afresh (the user's proxy settings are read again): WEB_OK or why not.
int open_web_library();
void close_web_library();

// The proxy as the message line and the log name it.
void web_proxy_description(char *out, int capacity);

// The catalogue's records into the receive buffer, cut as the text protocol's answer is:
// 1 to 15 records. WEB_OK, a web_outcome, or WEB_RECORD_LIMITS.
enum { WEB_RECORD_LIMITS = 100 };
int fetch_catalogue_web(field_list *records, web_response *response);

// The publisher's manifest over the channel (manifest_fetch_result values).
int fetch_manifest_web(char **text, int *length);

// The reason of a failed fetch for people: the outcome's words and the HTTP status.
void web_failure_text(int outcome, const web_response *response, char *out, int capacity);
