#include "settings/publisher_key.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

#include "core/manifest.h"
#include "settings/offline_config.h"
#include "settings/registry_store.h"

static const char VALUE_NAME[] = SETTING_PUBLISHER_KEY;

void parse_publisher_keys(const char *text, publisher_keys *out)
{
    memset(out, 0, sizeof *out);
    if (!text)
        return;
    const char *p = text;
    int pieces = 0;
    while (*p) {
        const char *end = strchr(p, ';');
        if (!end)
            end = p + strlen(p);
        const char *a = p, *b = end;
        while (a < b && (*a == ' ' || *a == '\t'))
            ++a;
        while (b > a && (b[-1] == ' ' || b[-1] == '\t'))
            --b;
        if (b > a) {
            ++pieces;
            // One bad key fails them all: trusting "the rest" would hide a typing error
            // until the day the publisher rolls over to the key that was mistyped.
            if (out->count >= PUBLISHER_KEYS_MAX ||
                !parse_public_key(a, (size_t)(b - a), out->keys[out->count])) {
                memset(out, 0, sizeof *out);
                out->state = PUBLISHER_KEYS_INVALID;
                return;
            }
            ++out->count;
        }
        p = *end ? end + 1 : end;
    }
    out->state = pieces > 0 ? PUBLISHER_KEYS_READY : PUBLISHER_KEYS_NONE;
}

static void fail_closed(publisher_keys *out)
{
    memset(out, 0, sizeof *out);
    out->state = PUBLISHER_KEYS_INVALID;
}

void load_publisher_keys(publisher_keys *out)
{
    char text[PUBLISHER_KEY_TEXT_MAX + 1];
    // Machine policy (either registry view), then the user. A value that is there but cannot
    // be read as text (another type, too long for any set of keys we take, a key that cannot
    // be opened) or that names no key (";") is configured and wrong: it fails closed here,
    // never handing the choice to a weaker source. So does a blank machine value: a policy
    // was set. Offline.INI, which every account may write in the install folder, is asked
    // only when the registry holds nothing, so it can never lower what the registry set.
    int unreadable = 0;
    if (read_layered_setting(VALUE_NAME, text, sizeof text, &unreadable) != SETTING_NOWHERE) {
        if (unreadable)
            return fail_closed(out);
        parse_publisher_keys(text, out);
        if (out->state == PUBLISHER_KEYS_NONE)
            fail_closed(out);
        return;
    }
    if (machine_setting_present(VALUE_NAME))
        return fail_closed(out);
    // From whichever Offline.INI holds it: one that only sets the server must not hide the key.
    if (read_offline_value_in_either("SERVER", VALUE_NAME, text, sizeof text)) {
        parse_publisher_keys(text, out);
        if (out->state == PUBLISHER_KEYS_NONE)
            fail_closed(out);
        return;
    }
    memset(out, 0, sizeof *out);
}

static void sequence_value_name(const uint8_t key[64], char *name, size_t capacity)
{
    // The first eight bytes of X name the key well enough to keep the counters apart.
    int used = snprintf(name, capacity, "PublisherSequence.");
    for (int i = 0; i < 8 && used + 2 < (int)capacity; ++i)
        used += snprintf(name + used, capacity - (size_t)used, "%02x", key[i]);
}

uint64_t accepted_sequence(const uint8_t key[64])
{
    char name[64], text[32];
    sequence_value_name(key, name, sizeof name);
    if (!read_setting(name, text, sizeof text))
        return 0;
    uint64_t value = 0;
    for (const char *p = text; *p >= '0' && *p <= '9'; ++p)
        value = value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : value * 10 + (uint64_t)(*p - '0');
    return value;
}

void remember_accepted_sequence(const uint8_t key[64], uint64_t sequence)
{
    if (sequence <= accepted_sequence(key))
        return;
    char name[64], text[32];
    sequence_value_name(key, name, sizeof name);
    snprintf(text, sizeof text, "%llu", (unsigned long long)sequence);
    write_setting(name, text);
}
