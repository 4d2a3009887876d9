#include "app/command_line.h"

#include <cstring>
#include <string>
#include <strings.h>

#include "app/ip_option.h"
#include "res/texts.h"

// The help as the box shows it, one line of res/texts.h per line.
// clang-format off
const char USAGE_TEXT[] =
    TEXT_USAGE_SYNOPSIS "\r\n"
    "\r\n"
    TEXT_USAGE_WINDOW "\r\n"
    TEXT_USAGE_IP "\r\n"
    TEXT_USAGE_URL "\r\n"
    TEXT_USAGE_INSTALL "\r\n"
    TEXT_USAGE_CHECK "\r\n"
    TEXT_USAGE_SCHEDULED "\r\n"
    TEXT_USAGE_TASK "\r\n"
    TEXT_USAGE_HELP "\r\n"
    "\r\n"
    TEXT_USAGE_EXIT_CODES "\r\n"
    TEXT_USAGE_EXIT_CODES_MORE;
// clang-format on

static int is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The next word of text at *position, copied (cut) into word; 0 at the end.
static int next_word(const char *text, size_t *position, char *word, size_t capacity,
                     size_t *length)
{
    size_t i = *position;
    while (text[i] && is_blank(text[i]))
        ++i;
    if (!text[i])
        return 0;
    size_t start = i;
    while (text[i] && !is_blank(text[i]))
        ++i;
    *length = i - start;
    size_t kept = *length < capacity - 1 ? *length : capacity - 1;
    memcpy(word, text + start, kept);
    word[kept] = 0;
    *position = i;
    return 1;
}

static void note_unknown(command_line *out, const char *word)
{
    if (!out->unknown[0]) {
        strncpy(out->unknown, word, sizeof out->unknown - 1);
        out->unknown[sizeof out->unknown - 1] = 0;
    }
}

// The address after "-url": a word of its own, longer than the other options may be.
static void take_url(const char *text, size_t *position, command_line *out)
{
    size_t length = 0;
    char url[LIBRARY_URL_MAX + 1];
    if (!next_word(text, position, url, sizeof url, &length)) {
        note_unknown(out, "-url");
    } else if (length >= LIBRARY_URL_MAX) {
        out->url_too_long = 1;
    } else {
        memcpy(out->url, url, length + 1);
        out->url_given = 1;
    }
}

// Where "-url" and the word after it stand: [*at, *end), or 0, 0 without one.
static void find_url_words(const char *text, size_t *at, size_t *end)
{
    size_t position = 0, length = 0;
    char word[OPTION_TEXT_SIZE];
    *at = *end = 0;
    while (next_word(text, &position, word, sizeof word, &length)) {
        if (strcasecmp(word, "-url") == 0) {
            *at = position - length;
            *end = position;
            if (next_word(text, &position, word, sizeof word, &length))
                *end = position;
            return;
        }
    }
}

// The first "-ip" of text outside [skip_at, skip_end).
static const char *find_ip_text(const char *text, size_t skip_at, size_t skip_end)
{
    const char *found = strstr(text, "-ip");
    if (found && skip_end > skip_at && (size_t)(found - text) >= skip_at &&
        (size_t)(found - text) < skip_end)
        found = strstr(text + skip_end, "-ip");
    return found;
}

int read_window_ip_option(const char *text, const command_line *options, char *host, int capacity)
{
    if (!text || !options || options->url_end <= options->url_at)
        return read_ip_option(text, host, capacity);
    std::string masked(text);
    if (options->url_end <= masked.size())
        masked.replace(options->url_at, options->url_end - options->url_at,
                       options->url_end - options->url_at, ' ');
    return read_ip_option(masked.c_str(), host, capacity);
}

void parse_command_line(const char *text, command_line *out)
{
    memset(out, 0, sizeof *out);
    if (!text)
        return;
    find_url_words(text, &out->url_at, &out->url_end);
    // Where the window mode's "-ip" reading begins: its host may hold anything.
    const char *ip_at = find_ip_text(text, out->url_at, out->url_end);
    size_t position = 0, length = 0;
    char word[OPTION_TEXT_SIZE];
    int other_mode = MODE_WINDOW;
    command_line window_view;
    memset(&window_view, 0, sizeof window_view);
    while (next_word(text, &position, word, sizeof word, &length)) {
        int before_ip = !ip_at || text + position <= ip_at;
        if (strcasecmp(word, "-install") == 0) {
            if (other_mode == MODE_WINDOW || other_mode == MODE_CHECK)
                other_mode = MODE_INSTALL;
        } else if (strcasecmp(word, "-check") == 0) {
            if (other_mode == MODE_WINDOW)
                other_mode = MODE_CHECK;
        } else if (strcasecmp(word, "-register-task") == 0) {
            if (other_mode != MODE_HELP)
                other_mode = MODE_REGISTER_TASK;
        } else if (strcasecmp(word, "-remove-task") == 0) {
            if (other_mode != MODE_HELP)
                other_mode = MODE_REMOVE_TASK;
        } else if (strcasecmp(word, "-scheduled") == 0) {
            out->scheduled = 1;
        } else if (strcmp(word, "-?") == 0 || strcmp(word, "/?") == 0 ||
                   strcasecmp(word, "-help") == 0) {
            other_mode = MODE_HELP;
        } else if (strcasecmp(word, "-url") == 0) {
            take_url(text, &position, out);
        } else if (strcasecmp(word, "-ip") == 0) {
            if (!next_word(text, &position, word, sizeof word, &length)) {
                note_unknown(out, "-ip");
            } else if (length >= SERVER_HOST_SIZE) {
                out->host_too_long = 1;
            } else {
                memcpy(out->host, word, length + 1);
                out->host_given = 1;
            }
        } else if (strncmp(word, "-ip", 3) == 0) {
            // "-ipHOST", as the window mode has always read it.
            if (length - 3 >= SERVER_HOST_SIZE) {
                out->host_too_long = 1;
            } else {
                memcpy(out->host, word + 3, length - 3 + 1);
                out->host_given = 1;
            }
        } else {
            note_unknown(out, word);
            if (before_ip)
                note_unknown(&window_view, word);
        }
    }
    // A scheduled run alone is an install: the task's command line need not say both.
    if (out->scheduled && other_mode == MODE_WINDOW)
        other_mode = MODE_INSTALL;
    out->mode = other_mode;
    if (other_mode == MODE_WINDOW) {
        // The window keeps reading "-ip" its own way; words after it belong to the host.
        memcpy(out->unknown, window_view.unknown, sizeof out->unknown);
        out->host_given = 0;
        out->host[0] = 0;
        out->host_too_long = 0;
    }
}
