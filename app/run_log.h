// The run log: what each run did, for support staff, in %LOCALAPPDATA%\Pavoset.
#pragma once

enum { RUN_LOG_LIMIT = 1024 * 1024, RUN_LOG_LINE_MAX = 1024 };

// Tests point the log elsewhere; null or empty: the user's local application data folder.
void run_log_set_folder(const char *folder);
// The log file's full name; 0 when no folder can be had.
int run_log_path(char *out, int capacity);

// Appends one time-stamped line (CP949 text, no line break in format needed). Lines are
// written whole, in one write; a log that grows past RUN_LOG_LIMIT is kept as the one older
// file first. Failures are swallowed: the log never stops the program.
void run_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
