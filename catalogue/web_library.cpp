#include "catalogue/web_library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "catalogue/manifest_fetch.h"
#include "core/field_split.h"
#include "core/manifest.h"
#include "core/static_layout.h"
#include "core/text_protocol.h"
#include "res/texts.h"
#include "settings/publisher_key.h"

web_library g_web_library;

void set_web_library(const library_url *address)
{
    close_web_library();
    memset(&g_web_library, 0, sizeof g_web_library);
    if (!address || address->source == URL_NOWHERE)
        return;
    g_web_library.in_force = 1;
    g_web_library.address = *address;
    if (address->unreadable) {
        g_web_library.refusal = WEB_REFUSED_UNREADABLE;
        return;
    }
    // Over plain http anyone on the way may change the bytes: only the publisher's signature
    // can then say they are the library.
    if (_strnicmp(address->url, "http://", 7) == 0) {
        publisher_keys keys;
        load_publisher_keys(&keys);
        if (keys.state == PUBLISHER_KEYS_NONE)
            g_web_library.refusal = WEB_REFUSED_HTTP_WITHOUT_KEY;
    }
}

int web_library_in_force()
{
    return g_web_library.in_force;
}

int open_web_library()
{
    close_web_library();
    if (!g_web_library.in_force || g_web_library.refusal != WEB_ALLOWED)
        return WEB_BAD_URL;
    int opened = web_channel_open(&g_web_library.channel, g_web_library.address.url);
    if (opened != WEB_OK) {
        web_channel_close(&g_web_library.channel);
        return opened;
    }
    g_web_library.channel_open = 1;
    return WEB_OK;
}

void close_web_library()
{
    if (g_web_library.channel_open)
        web_channel_close(&g_web_library.channel);
    g_web_library.channel_open = 0;
}

void web_proxy_description(char *out, int capacity)
{
    const web_channel *c = &g_web_library.channel;
    if (!g_web_library.channel_open || c->proxy_source == WEB_PROXY_DIRECT)
        snprintf(out, capacity, "%s", TEXT_PROXY_DIRECT);
    else if (c->proxy_source == WEB_PROXY_USER)
        snprintf(out, capacity, TEXT_PROXY_USER_FORMAT, c->proxy_text);
    else if (c->proxy_source == WEB_PROXY_AUTO && c->proxy_text[0])
        snprintf(out, capacity, TEXT_PROXY_AUTO_FORMAT, c->proxy_text);
    else if (c->proxy_source == WEB_PROXY_AUTO)
        snprintf(out, capacity, "%s", TEXT_PROXY_AUTO_DIRECT);
    else
        snprintf(out, capacity, TEXT_PROXY_MACHINE_FORMAT, c->proxy_text);
}

struct memory_sink {
    char *buffer;
    uint64_t used;
    uint64_t capacity;
};

static int keep_in_memory(void *context, const void *data, uint32_t length)
{
    memory_sink *m = (memory_sink *)context;
    if (m->used + length > m->capacity)
        return 0;
    memcpy(m->buffer + m->used, data, length);
    m->used += length;
    return 1;
}

// One whole small file into buffer (capacity bytes plus a terminator).
static int fetch_into(const char *path, char *buffer, uint64_t capacity, web_response *response,
                      uint64_t *length)
{
    memory_sink sink = {buffer, 0, capacity};
    web_request request;
    memset(&request, 0, sizeof request);
    request.path = path;
    request.expected_size = WEB_SIZE_UNKNOWN;
    request.max_size = capacity;
    request.sink = keep_in_memory;
    request.context = &sink;
    int outcome = web_get(&g_web_library.channel, &request, response);
    buffer[outcome == WEB_OK ? sink.used : 0] = 0;
    *length = sink.used;
    return outcome;
}

int fetch_catalogue_web(field_list *records, web_response *response)
{
    memset(response, 0, sizeof *response);
    if (!records || !g_receive_buffer || !g_web_library.channel_open)
        return WEB_BAD_URL;
    uint64_t length = 0;
    int outcome = fetch_into(STATIC_CATALOGUE_NAME, g_receive_buffer, RECEIVE_BUFFER_SIZE - 1,
                             response, &length);
    if (outcome != WEB_OK)
        return outcome;
    // The same cut and the same limits as the text protocol's answer.
    split_fields(records, g_receive_buffer, TEXT_RECORD_SEPARATOR, FIELD_LIST_CAPACITY);
    terminate_fields(records);
    if (records->count < 1 || records->count > CATALOGUE_MAX_ENTRIES)
        return WEB_RECORD_LIMITS;
    return WEB_OK;
}

int fetch_manifest_web(char **text, int *length)
{
    *text = nullptr;
    *length = 0;
    if (!g_web_library.channel_open)
        return MANIFEST_FETCH_FAILED;
    char *buffer = (char *)malloc(MANIFEST_MAX_BYTES + 1);
    if (!buffer)
        return MANIFEST_FETCH_FAILED;
    web_response response;
    uint64_t got = 0;
    int outcome = fetch_into(MANIFEST_FILE_NAME, buffer, MANIFEST_MAX_BYTES, &response, &got);
    if (outcome != WEB_OK) {
        free(buffer);
        if (outcome == WEB_STATUS && (response.status == 404 || response.status == 410))
            return MANIFEST_ABSENT;
        if (outcome == WEB_TOO_SLOW)
            return MANIFEST_TOO_SLOW;  // said as too slow, not as never received
        return outcome == WEB_TOO_LARGE ? MANIFEST_OVERSIZED : MANIFEST_FETCH_FAILED;
    }
    *text = buffer;
    *length = (int)got;
    return MANIFEST_FETCHED;
}

void web_failure_text(int outcome, const web_response *response, char *out, int capacity)
{
    if (outcome == WEB_RECORD_LIMITS)
        snprintf(out, capacity, "%s", TEXT_WEB_RECORD_LIMITS);
    else if (response && response->status &&
             (outcome == WEB_STATUS || outcome == WEB_REDIRECT_REFUSED ||
              outcome == WEB_PROXY_REFUSED))
        snprintf(out, capacity, TEXT_WEB_HTTP_STATUS_FORMAT, web_outcome_text(outcome),
                 (unsigned long)response->status);
    else if (response && response->error)
        // The system's error number, for whoever reads the log.
        snprintf(out, capacity, TEXT_WEB_SYSTEM_ERROR_FORMAT, web_outcome_text(outcome),
                 (unsigned long)response->error);
    else
        snprintf(out, capacity, "%s", web_outcome_text(outcome));
}
