// The command line: the mode a run is in and what came with it.
#pragma once
#include "settings/library_url.h"
#include "settings/server_address.h"

enum run_mode {
    MODE_WINDOW = 0,
    MODE_INSTALL = 1,  // -install: no window, install what is not Match
    MODE_CHECK = 2,    // -check: no window, compare only
    MODE_HELP = 3,     // -? or -help: the usage box
};

enum { OPTION_TEXT_SIZE = 128 };

struct command_line {
    int mode;
    int host_given;                  // -ip came with a host (unattended modes)
    char host[SERVER_HOST_SIZE];     // its host, blanks removed
    int host_too_long;               // -ip's host did not fit
    char unknown[OPTION_TEXT_SIZE];  // the first word not understood, empty when none
    int url_given;                   // -url came with an address (every mode)
    char url[LIBRARY_URL_MAX];       // that address
    int url_too_long;                // -url's address did not fit
};

// Options are words separated by blanks, in any case: -install, -check, -ip HOST, -url URL,
// -?, -help. In the window mode "-ip" keeps its old reading (read_ip_option: everything after
// it is the host) and only the words before it are checked.
void parse_command_line(const char *text, command_line *out);

extern const char USAGE_TEXT[];

// Exit codes of the unattended modes.
enum {
    EXIT_ALL_MATCH = 0,
    EXIT_SOME_FAILED = 1,
    EXIT_NO_CATALOGUE = 2,
    EXIT_ALREADY_RUNNING = 3,
    EXIT_UPDATES_PENDING = 10,
    EXIT_BAD_OPTION = 64,
};
