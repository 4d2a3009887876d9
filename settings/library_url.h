// Where the library's web address comes from: machine policy (both registry views), then the
// user's registry, then URL= in [SERVER] of Offline.INI, and a "-url" option over all of
// them. Without any, the library comes over the two socket protocols as it always did.
#pragma once

enum { LIBRARY_URL_MAX = 1024 };

enum library_url_source {
    URL_NOWHERE = 0,
    URL_FROM_MACHINE,
    URL_FROM_USER,
    URL_FROM_OFFLINE_INI,
    URL_FROM_OPTION,
};

struct library_url {
    int source;      // library_url_source
    int unreadable;  // a registry value is there but unusable: nothing may be fetched
    char url[LIBRARY_URL_MAX];
};

// cmdline_url: the "-url" text, or null. Blanks around a value are dropped; a blank value
// counts as absent.
void resolve_library_url(library_url *out, const char *cmdline_url);

// Words for the log: the machine's and the user's (res/texts.h), "Offline.INI", "-url".
const char *library_url_source_text(int source);
