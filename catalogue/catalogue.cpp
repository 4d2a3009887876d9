#include "catalogue/catalogue.h"
#include <winsock2.h>
#include <cstdlib>
#include <cstring>
#include "core/field_split.h"
#include "core/name_case.h"
#include "core/packet_codec.h"
#include "core/text_protocol.h"
#include "net/framed/framed_session.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "settings/registry_store.h"

catalogue_entry *g_catalogue = nullptr;
int g_catalogue_count = 0;
char *g_receive_buffer = nullptr;
int g_protocol_preference = PROTOCOL_TEXT;
int g_installed_count = 0;

static char *copy_text(const char *start, int length)
{
    char *text = (char *)calloc((size_t)length + 1, 1);
    if (text && length > 0)
        memcpy(text, start, (size_t)length);
    return text;
}

void release_catalogue()
{
    if (g_catalogue) {
        for (int i = 0; i < g_catalogue_count; ++i) {
            free(g_catalogue[i].name);
            free(g_catalogue[i].crc);
            free(g_catalogue[i].size);
            free(g_catalogue[i].time_low);
            free(g_catalogue[i].time_high);
        }
        free(g_catalogue);
    }
    g_catalogue = nullptr;
    g_catalogue_count = 0;
}

void build_catalogue(field_list *records)
{
    release_catalogue();
    if (!records || records->count <= 0)
        return;
    int wanted = records->count < CATALOGUE_MAX_ENTRIES ? records->count : CATALOGUE_MAX_ENTRIES;
    g_catalogue = (catalogue_entry *)calloc((size_t)wanted, sizeof(catalogue_entry));
    if (!g_catalogue)
        return;
    for (int r = 0; r < wanted; ++r) {
        if (!records->starts[r] || records->lengths[r] <= 0)
            continue;
        // Each record is cut in a copy of its own: a single record need not be terminated
        // in the answer buffer, and the answer buffer stays as the retrieval left it.
        char *record = copy_text(records->starts[r], records->lengths[r]);
        if (!record)
            continue;
        field_list fields;
        int count = split_fields(&fields, record, TEXT_FIELD_SEPARATOR, FIELD_LIST_CAPACITY);
        // A record without a name (for example the empty one after a final "~|") would
        // give a row that nothing can be installed into.
        if (count > 0 && fields.starts[0] && fields.lengths[0] > 0) {
            catalogue_entry *entry = &g_catalogue[g_catalogue_count];
            char **slots[5] = {&entry->name, &entry->crc, &entry->size, &entry->time_low,
                               &entry->time_high};
            for (int f = 0; f < 5 && f < count; ++f) {
                if (fields.starts[f])
                    *slots[f] = copy_text(fields.starts[f], fields.lengths[f]);
            }
            if (entry->name)
                ++g_catalogue_count;
        }
        free(record);
    }
}

int catalogue_duplicate(int *first, int *second)
{
    for (int i = 1; i < g_catalogue_count; ++i)
        for (int j = 0; j < i; ++j)
            if (library_names_same_file(g_catalogue[j].name, g_catalogue[i].name)) {
                *first = j;
                *second = i;
                return 1;
            }
    return 0;
}

int fetch_catalogue_text(field_list *records)
{
    if (!records || !g_receive_buffer)
        return 0;
    g_receive_buffer[0] = 0;
    int sent =
        send(g_channel_socket, TEXT_REQUEST_CATALOGUE, (int)sizeof TEXT_REQUEST_CATALOGUE, 0);
    int received = 0;
    if (sent > 0)
        received = recv(g_channel_socket, g_receive_buffer, TEXT_CATALOGUE_RECEIVE_SIZE, 0);
    if (sent <= 0 || received <= 0) {
        pass_socket_mutex();
        return 0;
    }
    // The answer is exactly what this receive returned: a longer earlier answer must not
    // lend its tail to this one.
    g_receive_buffer[received] = 0;
    if (strncmp(g_receive_buffer, TEXT_ANSWER_OK, TEXT_ANSWER_PREFIX_LENGTH) != 0)
        return 0;
    split_fields(records, g_receive_buffer + TEXT_ANSWER_PREFIX_LENGTH, TEXT_RECORD_SEPARATOR,
                 FIELD_LIST_CAPACITY);
    terminate_fields(records);
    if (records->count < 1 || records->count > CATALOGUE_MAX_ENTRIES)
        return 0;
    g_protocol_preference = PROTOCOL_TEXT;
    write_setting(SETTING_PROTOCOL, "1");
    return 1;
}

int fetch_catalogue_framed(field_list *records)
{
    if (!records)
        return 0;
    if (g_framed_session)
        release_session(g_framed_session);
    g_framed_session = create_session(g_server_address.host, g_server_address.port);
    framed_session *session = g_framed_session;
    if (!session || !session->answer_buffer)
        return 0;
    framed_packet request;
    init_packet(&request, "", KIND_REQUEST, SUB_CATALOGUE, 0, nullptr, 0);
    int32_t value = 0;
    int body_length =
        framed_exchange(session, &request, session->answer_buffer, session->buffer_size, &value);
    if (body_length < 0 || value != PACKET_ACCEPTED)
        return 0;
    // The body is the catalogue text; keep it terminated within the buffer in any case.
    if (body_length >= session->buffer_size)
        body_length = session->buffer_size - 1;
    session->answer_buffer[body_length] = 0;
    split_records(records, (char *)session->answer_buffer);
    if (records->count < 2 || records->count > CATALOGUE_MAX_ENTRIES)
        return 0;
    g_protocol_preference = PROTOCOL_FRAMED;
    write_setting(SETTING_PROTOCOL, "0");
    return 1;
}
