// The catalogue from the library's web server, for the window and the unattended runs: the
// address taken at start, the retrieval, and the lines that tell the user what happened.
#pragma once
#include "app/retrieval.h"

// Resolves the library's address (cmdline_url: the "-url" text or null), takes it for the
// run and logs it with its source. Without an address nothing changes.
void take_library_url(const char *cmdline_url);

// Fills result as retrieve_catalogue does, over the web channel only. Logs the outcome.
void retrieve_catalogue_over_web(retrieval_result *result, retrieval_progress progress,
                                 void *context);

// The message line the last web retrieval left: why it failed, or where the catalogue came
// from and through which proxy.
const char *web_retrieval_line();

// For the install pass: its notes go to the run log.
void log_web_note(const char *line);
