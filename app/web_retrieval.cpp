#include "app/web_retrieval.h"

#include <cstdio>
#include <cstring>

#include "app/run_log.h"
#include "catalogue/catalogue.h"
#include "catalogue/web_library.h"
#include "res/texts.h"

// Written by the retrieval, read by the window once the retrieval handed its result over.
static char g_line[LIBRARY_URL_MAX + 512];

void take_library_url(const char *cmdline_url)
{
    library_url address;
    resolve_library_url(&address, cmdline_url);
    set_web_library(&address);
    if (address.source != URL_NOWHERE)
        run_log(TEXT_LOG_LIBRARY_URL_FORMAT, address.unreadable ? "?" : address.url,
                library_url_source_text(address.source));
}

static void tell(retrieval_progress progress, void *context, const char *text)
{
    if (progress)
        progress(context, text);
}

// A refusal before anything is fetched: the line says why, the log says it too.
static int refused_line()
{
    if (g_web_library.refusal == WEB_REFUSED_UNREADABLE)
        snprintf(g_line, sizeof g_line, "%s", TEXT_WEB_URL_UNREADABLE);
    else if (g_web_library.refusal == WEB_REFUSED_HTTP_WITHOUT_KEY)
        snprintf(g_line, sizeof g_line, TEXT_WEB_HTTP_NEEDS_KEY_FORMAT, g_web_library.address.url);
    else
        return 0;
    return 1;
}

void retrieve_catalogue_over_web(retrieval_result *result, retrieval_progress progress,
                                 void *context)
{
    memset(result, 0, sizeof *result);
    g_line[0] = 0;
    release_catalogue();
    if (refused_line()) {
        run_log("%s", g_line);
        return;
    }
    const char *url = g_web_library.address.url;
    char proxy[WEB_PROXY_TEXT_MAX + 64];
    char reason[256];
    int outcome = open_web_library();
    web_proxy_description(proxy, sizeof proxy);
    web_response response;
    memset(&response, 0, sizeof response);
    static field_list records;
    memset(&records, 0, sizeof records);
    if (outcome == WEB_OK) {
        char text[sizeof g_line];
        snprintf(text, sizeof text, TEXT_CONNECTING_WEB_FORMAT, url, proxy);
        tell(progress, context, text);
        outcome = fetch_catalogue_web(&records, &response);
    }
    if (outcome == WEB_OK) {
        build_catalogue(&records);
        result->entries = g_catalogue_count;
        result->ok = g_catalogue_count > 0;
        if (!result->ok)
            outcome = WEB_RECORD_LIMITS;
    }
    if (result->ok) {
        snprintf(g_line, sizeof g_line, TEXT_WEB_SOURCE_FORMAT, url, proxy);
        run_log(TEXT_LOG_WEB_CATALOGUE_FORMAT, url, result->entries, proxy);
        return;
    }
    web_failure_text(outcome, &response, reason, sizeof reason);
    snprintf(g_line, sizeof g_line, TEXT_WEB_CATALOGUE_FAILED_FORMAT, reason, url, proxy);
    run_log("%s", g_line);
}

const char *web_retrieval_line()
{
    return g_line;
}

void log_web_note(const char *line)
{
    run_log("%s", line);
}
