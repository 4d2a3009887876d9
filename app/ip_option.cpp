#include "app/ip_option.h"

#include <cstdio>
#include <cstring>

int read_ip_option(const char *command_line, char *host, int capacity)
{
    if (!command_line || !*command_line || !host || capacity <= 0)
        return IP_OPTION_ABSENT;
    const char *found = strstr(command_line, "-ip");
    if (!found)
        return IP_OPTION_ABSENT;
    const char *text = found + 3;
    size_t length = strlen(text);
    if (length >= (size_t)capacity)
        return IP_OPTION_TOO_LONG;
    memcpy(host, text, length + 1);
    return IP_OPTION_STORED;
}

static int is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void trim_host(const char *text, char *out, int capacity)
{
    if (!out || capacity <= 0)
        return;
    out[0] = 0;
    if (!text)
        return;
    while (is_blank(*text))
        ++text;
    size_t length = strlen(text);
    while (length > 0 && is_blank(text[length - 1]))
        --length;
    if (length >= (size_t)capacity)
        length = capacity - 1;
    memcpy(out, text, length);
    out[length] = 0;
}

void append_host_to_title(char *title, int capacity, const char *host)
{
    if (!title || capacity <= 0)
        return;
    size_t used = strnlen(title, capacity - 1);
    title[used] = 0;
    snprintf(title + used, capacity - used, "(%s)", host ? host : "");
}
