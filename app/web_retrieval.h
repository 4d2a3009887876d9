// The catalogue from the library's web server, for the window and the unattended runs: the
// address taken at start, the catalogue's records, and the lines that tell the user what
// happened. The retrieval (app/retrieval.cpp) does everything else as for the other protocols.
#pragma once
#include "app/retrieval.h"
#include "catalogue/web_library.h"
#include "core/field_list.h"

// Resolves the library's address (cmdline_url: the "-url" text or null), takes it for the
// run and logs it with its source. Without an address nothing changes.
void take_library_url(const char *cmdline_url);

// The catalogue's records over the web channel (opened afresh), as fetch_catalogue_text gives
// them: 1 on success. A refused address fetches nothing. The failure's line is kept.
int fetch_catalogue_over_web(field_list *records, retrieval_progress progress, void *context);

// Logs the outcome of a retrieval over the web and keeps the message line that tells it.
void log_web_retrieval(const retrieval_result *result);

// The message line the last web retrieval left: why it failed, or where the catalogue came
// from and through which proxy.
const char *web_retrieval_line();

// For the install pass: its notes go to the run log.
void log_web_note(const char *line);
