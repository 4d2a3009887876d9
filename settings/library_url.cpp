#include "settings/library_url.h"

#include <cstring>

#include "res/texts.h"
#include "settings/offline_config.h"
#include "settings/registry_store.h"

static int is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Trims text in place; 1 when something is left.
static int trimmed(char *text)
{
    size_t start = 0, end = strlen(text);
    while (start < end && is_blank(text[start]))
        ++start;
    while (end > start && is_blank(text[end - 1]))
        --end;
    memmove(text, text + start, end - start);
    text[end - start] = 0;
    return text[0] != 0;
}

void resolve_library_url(library_url *out, const char *cmdline_url)
{
    memset(out, 0, sizeof *out);
    if (cmdline_url && strlen(cmdline_url) < sizeof out->url) {
        strcpy(out->url, cmdline_url);
        if (trimmed(out->url)) {
            out->source = URL_FROM_OPTION;
            return;
        }
    }
    int unreadable = 0;
    int found = read_layered_setting(SETTING_LIBRARY_URL, out->url, sizeof out->url, &unreadable);
    if (unreadable) {
        // A policy that is there but cannot be read must not give way to a weaker source.
        out->url[0] = 0;
        out->unreadable = 1;
        out->source = found == SETTING_FROM_MACHINE ? URL_FROM_MACHINE : URL_FROM_USER;
        return;
    }
    if (found != SETTING_NOWHERE && trimmed(out->url)) {
        out->source = found == SETTING_FROM_MACHINE ? URL_FROM_MACHINE : URL_FROM_USER;
        return;
    }
    out->url[0] = 0;
    if (!read_offline_value("SERVER", "URL", out->url, sizeof out->url))
        return;
    // The file cuts what does not fit, and a cut address is another address.
    int cut = strlen(out->url) >= sizeof out->url - 1;
    if (!trimmed(out->url))
        return;
    out->source = URL_FROM_OFFLINE_INI;
    if (cut) {
        out->url[0] = 0;
        out->unreadable = 1;
    }
}

const char *library_url_source_text(int source)
{
    switch (source) {
    case URL_FROM_MACHINE:
        return TEXT_URL_FROM_MACHINE;
    case URL_FROM_USER:
        return TEXT_URL_FROM_USER;
    case URL_FROM_OFFLINE_INI:
        return "Offline.INI";
    case URL_FROM_OPTION:
        return "-url";
    default:
        return "";
    }
}
