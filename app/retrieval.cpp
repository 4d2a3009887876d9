#include "app/retrieval.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/run_log.h"
#include "app/web_retrieval.h"
#include "catalogue/catalogue.h"
#include "catalogue/manifest_check.h"
#include "catalogue/sequence_file.h"
#include "core/field_list.h"
#include "net/framed/framed_session.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "res/texts.h"
#include "settings/registry_store.h"

// The observer of datagram tries has no context argument; the retrieval in progress is
// process-wide state like the session it watches.
static retrieval_progress g_progress = nullptr;
static void *g_progress_context = nullptr;
static int g_attempt = 0;  // 1 or 2: which of the two protocols is being tried

const char *protocol_name(int protocol)
{
    return protocol == PROTOCOL_TEXT ? TEXT_PROTOCOL_TEXT : TEXT_PROTOCOL_FRAMED;
}

static void tell(const char *text)
{
    if (g_progress)
        g_progress(g_progress_context, text);
}

static void tell_connecting(int protocol, int request, int requests)
{
    char text[160];
    if (request > 0)
        snprintf(text, sizeof text, TEXT_CONNECTING TEXT_CONNECTING_REQUEST_FORMAT,
                 protocol_name(protocol), g_attempt, request, requests);
    else
        snprintf(text, sizeof text, TEXT_CONNECTING TEXT_CONNECTING_TRY_FORMAT,
                 protocol_name(protocol), g_attempt);
    tell(text);
}

static void observe_datagram_try(int attempt, int tries)
{
    tell_connecting(PROTOCOL_FRAMED, attempt, tries);
}

static int fetch_over_text(field_list *records)
{
    tell_connecting(PROTOCOL_TEXT, 0, 0);
    open_text_channel();
    if (g_channel_socket == 0)
        return 0;
    tell(TEXT_RECEIVING_LIST);
    return fetch_catalogue_text(records);
}

static int fetch_over_framed(field_list *records)
{
    g_exchange_try_observer = observe_datagram_try;
    int ok = fetch_catalogue_framed(records);
    g_exchange_try_observer = nullptr;
    return ok;
}

static int fetch_over(int protocol, field_list *records)
{
    return protocol == PROTOCOL_TEXT ? fetch_over_text(records) : fetch_over_framed(records);
}

// Everything done with the records once they came, in one place: later checks of the
// catalogue belong here, before anything is shown or installed.
static int accept_records(field_list *records, retrieval_result *result)
{
    build_catalogue(records);
    int first = 0, second = 0;
    if (catalogue_duplicate(&first, &second)) {
        run_log(TEXT_LOG_CATALOGUE_DUPLICATE_FORMAT, g_catalogue[first].name,
                g_catalogue[second].name);
        release_catalogue();
    }
    result->entries = g_catalogue_count;
    return g_catalogue_count > 0;
}

void retrieve_catalogue(retrieval_result *result, retrieval_progress progress, void *context,
                        volatile LONG *abandon)
{
    memset(result, 0, sizeof *result);
    g_progress = progress;
    g_progress_context = context;

    if (g_channel_socket != 0)
        close_text_channel();
    release_catalogue();
    char preference[4] = {0};
    if (read_setting(SETTING_PROTOCOL, preference, sizeof preference)) {
        preference[sizeof preference - 1] = 0;
        // Any stored number but 0 has always meant text first.
        g_protocol_preference = atoi(preference) != 0 ? PROTOCOL_TEXT : PROTOCOL_FRAMED;
    }
    result->first_protocol =
        g_protocol_preference == PROTOCOL_TEXT ? PROTOCOL_TEXT : PROTOCOL_FRAMED;
    int second = result->first_protocol == PROTOCOL_TEXT ? PROTOCOL_FRAMED : PROTOCOL_TEXT;

    static field_list records;
    memset(&records, 0, sizeof records);
    g_attempt = 1;
    // With a library address the catalogue comes over the web alone: the socket protocols
    // are not tried at all. What follows the records is the same for every way they came.
    int web = web_library_in_force();
    int ok = web ? fetch_catalogue_over_web(&records, progress, context)
                 : fetch_over(result->first_protocol, &records);
    int used = web ? PROTOCOL_WEB : result->first_protocol;
    if (!ok && !web && !(abandon && *abandon)) {
        result->fell_back = 1;
        g_attempt = 2;
        memset(&records, 0, sizeof records);
        ok = fetch_over(second, &records);
        used = second;
    }
    if (ok) {
        result->used_protocol = used;
        result->ok = accept_records(&records, result);
    }
    // The publisher's manifest comes over the protocol that delivered the catalogue, here
    // where waiting on the network does no harm; nobody waits for an abandoned one.
    if (result->ok && !(abandon && *abandon))
        settle_library_signature();
    // Hashing every installed file takes a while with a publisher key: here, too, the window
    // goes on answering meanwhile.
    if (result->ok && !(abandon && *abandon))
        compare_catalogue_with_folder(g_catalogue, g_catalogue_count, result->rows);
    g_progress = nullptr;
    g_progress_context = nullptr;

    if (web)
        log_web_retrieval(result);
    else if (result->ok && result->fell_back)
        run_log(TEXT_LOG_CATALOGUE_FELL_BACK_FORMAT, protocol_name(result->first_protocol),
                protocol_name(used), result->entries);
    else if (result->ok)
        run_log(TEXT_LOG_CATALOGUE_FORMAT, protocol_name(used), result->entries);
    else if (result->fell_back)
        run_log(TEXT_LOG_CATALOGUE_FAILED_FORMAT, protocol_name(result->first_protocol),
                protocol_name(second), g_server_address.host, (unsigned)g_server_address.port);
    else
        run_log(TEXT_LOG_CATALOGUE_ABANDONED_FORMAT, protocol_name(result->first_protocol),
                g_server_address.host, (unsigned)g_server_address.port);
    if (result->ok && library_signature_record_failed())
        run_log(TEXT_LOG_SEQUENCE_NOT_RECORDED_FORMAT, LIBRARY_FOLDER SEQUENCE_FILE_NAME);
}

void release_retrieval_state(int keep_catalogue)
{
    if (g_channel_socket != 0)
        close_text_channel();
    if (g_framed_session) {
        release_session(g_framed_session);
        g_framed_session = nullptr;
    }
    if (!keep_catalogue)
        release_catalogue();
    free(g_receive_buffer);
    g_receive_buffer = nullptr;
}
