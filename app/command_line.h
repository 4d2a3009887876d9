// The command line: the mode a run is in and what came with it.
#pragma once
#include <cstddef>
#include "net/server_address.h"
#include "settings/library_url.h"

enum run_mode {
    MODE_WINDOW = 0,
    MODE_INSTALL = 1,        // -install: no window, install what is not Match
    MODE_CHECK = 2,          // -check: no window, compare only
    MODE_HELP = 3,           // -? or -help: the usage box
    MODE_REGISTER_TASK = 4,  // -register-task: the installer's logon task (app/logon_task.h)
    MODE_REMOVE_TASK = 5,    // -remove-task: that task removed
};

enum { OPTION_TEXT_SIZE = 128 };

struct command_line {
    int mode;
    int host_given;                  // -ip came with a host (unattended modes)
    char host[SERVER_HOST_SIZE];     // its host, blanks removed
    int host_too_long;               // -ip's host did not fit
    int scheduled;                   // -scheduled: run only when machine policy allows it
    char unknown[OPTION_TEXT_SIZE];  // the first word not understood, empty when none
    int url_given;                   // -url URL came with an address (every mode)
    char url[LIBRARY_URL_MAX];       // that address
    int url_too_long;                // -url's address did not fit
    size_t url_at, url_end;          // where "-url" and its address stand in the text (or 0, 0)
};

// Options are words separated by blanks, in any case: -install, -check, -scheduled,
// -ip HOST, -?, -help, -register-task, -remove-task. -scheduled alone means -install
// -scheduled. In the window mode "-ip" keeps its old reading (read_ip_option: everything after
// it is the host) and only the words before it are checked.
void parse_command_line(const char *text, command_line *out);

// The window mode's "-ip" (read_ip_option) read from text as parsed into options, passing over
// "-url" and its address: "https://my-ip.example/" holds no -ip option. An IP_OPTION_* result.
int read_window_ip_option(const char *text, const command_line *options, char *host, int capacity);

extern const char USAGE_TEXT[];

// Exit codes of the unattended modes.
enum {
    EXIT_ALL_MATCH = 0,
    EXIT_SOME_FAILED = 1,
    EXIT_NO_CATALOGUE = 2,
    EXIT_ALREADY_RUNNING = 3,
    EXIT_TASK_FAILED = 4,  // -register-task, -remove-task: schtasks.exe did not succeed
    EXIT_UPDATES_PENDING = 10,
    EXIT_BAD_OPTION = 64,
};
