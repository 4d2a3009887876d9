// The unattended modes: -install and -check, with no window shown and no message box.
#pragma once

// Runs one mode (MODE_INSTALL or MODE_CHECK) against the server the usual sources and
// cmdline_host (may be null) give, or the library address cmdline_url (may be null) and the
// usual sources give; returns the process exit code.
int run_unattended(int mode, const char *cmdline_host, const char *cmdline_url = nullptr);
