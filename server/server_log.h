// Log lines on standard error (or a file), filtered by one process-wide level.
#pragma once
#include <string>

enum log_level { LOG_ERROR = 0, LOG_WARN = 1, LOG_INFO = 2, LOG_DEBUG = 3 };

void set_log_level(log_level level);
log_level current_log_level();
// Appends log lines to path from now on (a service has no standard error). False when the
// file cannot be opened; lines then still go to standard error.
bool set_log_file(const std::string &path);
// Accepts "error", "warn", "info", "debug"; false for anything else.
bool parse_log_level(const char *text, log_level *level);
void log_line(log_level level, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));

// Client-supplied text made safe for a log line: at most max bytes, control bytes as '?'.
std::string printable(const std::string &text, size_t max = 60);
