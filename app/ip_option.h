// The "-ip" command-line option and the texts derived from it.
#pragma once

enum ip_option_result {
    IP_OPTION_ABSENT = 0,
    IP_OPTION_STORED = 1,
    IP_OPTION_TOO_LONG = -1,  // refused; nothing stored
};

// Copies the text after the first "-ip" (unchanged, blanks kept) into host, which holds
// capacity bytes. A text that does not fit is refused rather than cut: a cut host name
// would silently point at some other machine.
int read_ip_option(const char *command_line, char *host, int capacity);

// Copies text without its leading and trailing blanks (spaces, tabs) into out.
void trim_host(const char *text, char *out, int capacity);

// Appends "(host)" directly after the title, within capacity bytes.
void append_host_to_title(char *title, int capacity, const char *host);
