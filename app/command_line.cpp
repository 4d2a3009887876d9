#include "app/command_line.h"

#include <cstring>
#include <strings.h>

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

void parse_command_line(const char *text, command_line *out)
{
    memset(out, 0, sizeof *out);
    if (!text)
        return;
    // Where the window mode's "-ip" reading begins: its host may hold anything.
    const char *ip_at = strstr(text, "-ip");
    size_t position = 0, length = 0;
    char word[OPTION_TEXT_SIZE];
    int other_mode = MODE_WINDOW;
    command_line window_view;
    memset(&window_view, 0, sizeof window_view);
    while (next_word(text, &position, word, sizeof word, &length)) {
        int before_ip = !ip_at || text + position <= ip_at;
        if (strcasecmp(word, "-install") == 0) {
            if (other_mode != MODE_HELP)
                other_mode = MODE_INSTALL;
        } else if (strcasecmp(word, "-check") == 0) {
            if (other_mode != MODE_HELP && other_mode != MODE_INSTALL)
                other_mode = MODE_CHECK;
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
    out->mode = other_mode;
    if (other_mode == MODE_WINDOW) {
        // The window keeps reading "-ip" its own way; words after it belong to the host.
        memcpy(out->unknown, window_view.unknown, sizeof out->unknown);
        out->host_given = 0;
        out->host[0] = 0;
        out->host_too_long = 0;
    }
}
