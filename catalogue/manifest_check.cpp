#include "catalogue/manifest_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/manifest_fetch.h"
#include "catalogue/sequence_file.h"
#include "catalogue/signature_verify.h"
#include "catalogue/web_library.h"
#include "core/decimal_text.h"
#include "net/framed/framed_session.h"
#include "net/framed/staged_file.h"
#include "res/resource.h"
#include "res/texts.h"

// Written by the refresh, read by the install worker; a refresh never runs while a worker
// does, so the two never overlap.
static int g_verdict = VERDICT_NOT_REQUIRED;
static manifest g_manifest;
static char g_message[512];
static int g_record_failed = 0;  // the accepted sequence could not be kept in the folder

const char *verdict_text(int verdict)
{
    switch (verdict) {
    case VERDICT_BAD_KEY_SETTING:
        return TEXT_VERDICT_BAD_KEY_SETTING;
    case VERDICT_FETCH_FAILED:
        return TEXT_VERDICT_FETCH_FAILED;
    case VERDICT_MISSING:
        return TEXT_VERDICT_MISSING;
    case VERDICT_MALFORMED:
        return TEXT_VERDICT_MALFORMED;
    case VERDICT_UNSIGNED:
        return TEXT_VERDICT_UNSIGNED;
    case VERDICT_UNKNOWN_KEY:
        return TEXT_VERDICT_UNKNOWN_KEY;
    case VERDICT_OLDER:
        return TEXT_VERDICT_OLDER;
    case VERDICT_EXPIRED:
        return TEXT_VERDICT_EXPIRED;
    case VERDICT_NO_CRYPTO:
        return TEXT_VERDICT_NO_CRYPTO;
    case VERDICT_TOO_SLOW:
        return TEXT_VERDICT_TOO_SLOW;
    case VERDICT_CATALOGUE_INCOMPLETE:
        return TEXT_VERDICT_CATALOGUE_INCOMPLETE;
    case VERDICT_CATALOGUE_SIZE_DIFFERS:
        return TEXT_VERDICT_CATALOGUE_SIZE;
    default:
        return "";
    }
}

int verify_library_manifest(const char *text, size_t length, const publisher_keys *keys,
                            uint64_t now, manifest *out)
{
    if (!keys || keys->state == PUBLISHER_KEYS_NONE)
        return VERDICT_NOT_REQUIRED;
    if (keys->state != PUBLISHER_KEYS_READY || keys->count <= 0)
        return VERDICT_BAD_KEY_SETTING;
    int parsed = parse_manifest(text, length, out);
    if (parsed == MANIFEST_UNSIGNED)
        return VERDICT_UNSIGNED;
    if (parsed != MANIFEST_OK)
        return VERDICT_MALFORMED;
    int signer = -1, unavailable = 0;
    for (int i = 0; i < keys->count && signer < 0; ++i) {
        int v = verify_p256_signature(keys->keys[i], text, out->signed_length, out->signature);
        if (v == SIGNATURE_VALID)
            signer = i;
        else if (v == SIGNATURE_UNAVAILABLE)
            unavailable = 1;
    }
    if (signer < 0)
        return unavailable ? VERDICT_NO_CRYPTO : VERDICT_UNKNOWN_KEY;
    // Only what the signature covers is believed; from here on the fields are the publisher's.
    // The user's counter and the one every account of the machine shares: the larger counts.
    const uint8_t *key = keys->keys[signer];
    uint64_t user = accepted_sequence(key), machine = folder_accepted_sequence(LIBRARY_FOLDER, key);
    if (out->sequence < (user > machine ? user : machine))
        return VERDICT_OLDER;
    if (out->has_expiry && now >= out->expires)
        return VERDICT_EXPIRED;
    remember_accepted_sequence(key, out->sequence);
    g_record_failed = !record_folder_sequence(LIBRARY_FOLDER, key, out->sequence);
    return VERDICT_VERIFIED;
}

static uint64_t unix_now()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    uint64_t ticks = (uint64_t)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
    const uint64_t EPOCH = 116444736000000000ull;
    return ticks > EPOCH ? (ticks - EPOCH) / 10000000ull : 0;
}

static int fetch_verdict(char **text, int *length)
{
    int fetched = web_library_in_force() ? fetch_manifest_web(text, length)
                  : g_protocol_preference == PROTOCOL_TEXT
                      ? fetch_manifest_text(text, length)
                      : fetch_manifest_framed(g_framed_session, text, length);
    if (fetched == MANIFEST_FETCHED)
        return VERDICT_VERIFIED;
    if (fetched == MANIFEST_ABSENT)
        return VERDICT_MISSING;
    if (fetched == MANIFEST_TOO_SLOW)
        return VERDICT_TOO_SLOW;
    return fetched == MANIFEST_OVERSIZED ? VERDICT_MALFORMED : VERDICT_FETCH_FAILED;
}

// The catalogue is unsigned: a file the publisher signed that it leaves out would never be
// compared with its SHA-256 (an altered installed copy would stay and count as current), and
// a row of another size announces bytes the publisher did not sign. So every file of a
// verified manifest must have its row, of the signed size, or the catalogue is refused whole.
// (The manifest holds no CRC-32: only the bytes can answer for that.) The verdict of the
// first file that disagrees, and that file in *file; VERDICT_VERIFIED when all agree.
static int catalogue_disagreement(const manifest_file **file)
{
    char listed[MANIFEST_MAX_FILES] = {0};
    *file = nullptr;
    for (int i = 0; i < g_catalogue_count; ++i) {
        const catalogue_entry *entry = &g_catalogue[i];
        const manifest_file *f = entry->name ? manifest_find(&g_manifest, entry->name) : nullptr;
        if (!f)
            continue;
        listed[f - g_manifest.files] = 1;
        if ((uint64_t)parse_u32_saturated(entry->size) != f->size) {
            *file = f;
            return VERDICT_CATALOGUE_SIZE_DIFFERS;
        }
    }
    for (int i = 0; i < g_manifest.file_count; ++i)
        if (!listed[i]) {
            *file = &g_manifest.files[i];
            return VERDICT_CATALOGUE_INCOMPLETE;
        }
    return VERDICT_VERIFIED;
}

void settle_library_signature()
{
    g_verdict = VERDICT_NOT_REQUIRED;
    g_message[0] = '\0';
    g_record_failed = 0;
    publisher_keys keys;
    load_publisher_keys(&keys);
    if (keys.state == PUBLISHER_KEYS_NONE)
        return;
    int verdict = keys.state == PUBLISHER_KEYS_READY ? VERDICT_VERIFIED : VERDICT_BAD_KEY_SETTING;
    char *text = nullptr;
    int length = 0;
    if (verdict == VERDICT_VERIFIED)
        verdict = fetch_verdict(&text, &length);
    if (verdict == VERDICT_VERIFIED)
        verdict = verify_library_manifest(text, (size_t)length, &keys, unix_now(), &g_manifest);
    free(text);
    const manifest_file *disagreeing = nullptr;
    if (verdict == VERDICT_VERIFIED)
        verdict = catalogue_disagreement(&disagreeing);
    g_verdict = verdict;

    if (verdict == VERDICT_VERIFIED) {
        int uncovered = 0;
        for (int i = 0; i < g_catalogue_count; ++i)
            if (signed_file_refusal(&g_catalogue[i], g_catalogue[i].name) != INSTALL_OK)
                ++uncovered;
        int used = snprintf(g_message, sizeof g_message,
                            " ♧ " TEXT_SIGNATURE_VERIFIED TEXT_SIGNATURE_SERIAL_FORMAT,
                            (unsigned long long)g_manifest.sequence);
        if (uncovered > 0 && used > 0 && used < (int)sizeof g_message)
            snprintf(g_message + used, sizeof g_message - (size_t)used,
                     TEXT_SIGNATURE_UNCOVERED_FORMAT, uncovered);
    } else if (disagreeing) {
        char reason[LIBRARY_NAME_MAX + 128];
        snprintf(reason, sizeof reason,
                 verdict == VERDICT_CATALOGUE_INCOMPLETE ? TEXT_VERDICT_CATALOGUE_INCOMPLETE_FORMAT
                                                         : TEXT_VERDICT_CATALOGUE_SIZE_FORMAT,
                 disagreeing->name);
        snprintf(g_message, sizeof g_message, TEXT_SIGNATURE_FAILED_FORMAT, reason);
    } else {
        snprintf(g_message, sizeof g_message, TEXT_SIGNATURE_FAILED_FORMAT, verdict_text(verdict));
    }
}

void show_library_signature(HWND main_window)
{
    if (main_window && g_verdict != VERDICT_NOT_REQUIRED)
        SetDlgItemTextA(main_window, ID_MESSAGE_LINE, g_message);
}

void check_library_signature(HWND main_window)
{
    settle_library_signature();
    show_library_signature(main_window);
}

int library_signature_record_failed()
{
    return g_record_failed;
}

int signed_file_digest(const char *name, uint8_t digest[SHA256_SIZE])
{
    if (g_verdict != VERDICT_VERIFIED)
        return 0;
    const manifest_file *f = manifest_find(&g_manifest, name);
    if (!f)
        return -1;
    memcpy(digest, f->sha256, SHA256_SIZE);
    return 1;
}

const char *signature_refusal_text()
{
    if (g_verdict == VERDICT_NOT_REQUIRED || g_verdict == VERDICT_VERIFIED)
        return nullptr;
    return g_message;
}

int signed_file_refusal(const catalogue_entry *entry, const char *name)
{
    if (g_verdict == VERDICT_NOT_REQUIRED)
        return INSTALL_OK;
    if (g_verdict != VERDICT_VERIFIED)
        return INSTALL_UNVERIFIED;
    const manifest_file *f = manifest_find(&g_manifest, name);
    if (!f)
        return INSTALL_NOT_SIGNED;
    int32_t size = parse_i32_saturated(entry ? entry->size : nullptr);
    if (size < 0 || (uint64_t)size != f->size)
        return INSTALL_SIGNATURE_MISMATCH;
    return INSTALL_OK;
}

void add_signature_check(const char *name, transfer_check *check)
{
    if (!check)
        return;
    check->check_sha256 = 0;
    if (g_verdict != VERDICT_VERIFIED)
        return;
    const manifest_file *f = manifest_find(&g_manifest, name);
    if (!f)
        return;
    check->check_sha256 = 1;
    memcpy(check->sha256, f->sha256, sizeof check->sha256);
    // The size the publisher signed is the size to receive.
    check->check_size = 1;
    check->size = (uint32_t)f->size;
}

int library_signature_verdict()
{
    return g_verdict;
}
