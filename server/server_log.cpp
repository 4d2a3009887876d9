#include "server/server_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "server/platform_files.h"

static log_level g_level = LOG_INFO;
static FILE *g_log_file = nullptr;

void set_log_level(log_level level)
{
    g_level = level;
}
log_level current_log_level()
{
    return g_level;
}

bool set_log_file(const std::string &path)
{
    FILE *file = open_for_appending(path);
    if (!file)
        return false;
    if (g_log_file)
        std::fclose(g_log_file);
    g_log_file = file;
    return true;
}

bool parse_log_level(const char *text, log_level *level)
{
    static const char *const names[] = {"error", "warn", "info", "debug"};
    for (int i = 0; i < 4; ++i) {
        if (text && std::strcmp(text, names[i]) == 0) {
            *level = static_cast<log_level>(i);
            return true;
        }
    }
    return false;
}

void log_line(log_level level, const char *format, ...)
{
    if (level > g_level)
        return;
    static const char *const tags[] = {"error", "warn", "info", "debug"};
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    // One fprintf per line so lines from a busy server never interleave mid-line.
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    FILE *out = g_log_file ? g_log_file : stderr;
    std::fprintf(out, "%s %-5s %s\n", stamp, tags[level], message);
    // A file is read while the server runs (and after it is killed): every line reaches it.
    if (g_log_file)
        std::fflush(g_log_file);
}

std::string printable(const std::string &text, size_t max)
{
    std::string out = text.substr(0, max);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    if (text.size() > max)
        out += "...";
    return out;
}
