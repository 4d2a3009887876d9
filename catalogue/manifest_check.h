// Whether the library on the server is the one its publisher signed. With no PublisherKey
// configured nothing is checked and nothing changes. With one, the manifest is fetched after
// each catalogue; files are installed only when it verifies, and only those it lists with
// the catalogue's size, each checked against its SHA-256 before it replaces the old file.
#pragma once
#include <windows.h>
#include <cstdint>
#include "catalogue/catalogue.h"
#include "core/manifest.h"
#include "net/framed/framed_transfer.h"
#include "settings/publisher_key.h"

enum manifest_verdict {
    VERDICT_VERIFIED = 0,
    VERDICT_NOT_REQUIRED,     // no publisher key configured
    VERDICT_BAD_KEY_SETTING,  // PublisherKey is set but unusable
    VERDICT_FETCH_FAILED,
    VERDICT_MISSING,      // the server has no manifest
    VERDICT_MALFORMED,    // oversized, truncated, bad names, bad numbers
    VERDICT_UNSIGNED,     // no usable signature line
    VERDICT_UNKNOWN_KEY,  // no configured key verifies it (also: altered bytes)
    VERDICT_OLDER,        // sequence below the highest accepted with that key
    VERDICT_EXPIRED,
    VERDICT_NO_CRYPTO,               // the system cannot check signatures
    VERDICT_TOO_SLOW,                // the manifest's transfer stayed below the minimum rate
    VERDICT_CATALOGUE_INCOMPLETE,    // a file the manifest lists has no catalogue row
    VERDICT_CATALOGUE_SIZE_DIFFERS,  // a catalogue row's size is not the signed one
};

// Checks a fetched manifest: signature against every configured key, then the sequence
// (per key: the larger of the user's registry value and the install folder's state file) and
// the expiry against now (UNIX seconds). On VERDICT_VERIFIED *out holds it and the sequence
// is remembered as accepted in both places.
int verify_library_manifest(const char *text, size_t length, const publisher_keys *keys,
                            uint64_t now, manifest *out);

// After each catalogue: fetches over the protocol that delivered it and verifies. It waits
// on the network, so the retrieval runs it, never the user-interface thread.
void settle_library_signature();
// Says the outcome in the main window's message line (nothing when no key is configured).
void show_library_signature(HWND main_window);
// Both, one after the other, for callers that may wait (tests, tools).
void check_library_signature(HWND main_window);
// 1 when the last accepted sequence could not be recorded in the install folder.
int library_signature_record_failed();
// For the comparison with installed files: 1 and digest set when the verified manifest lists
// name; -1 when a manifest verified but does not list it; 0 when none is in force.
int signed_file_digest(const char *name, uint8_t digest[SHA256_SIZE]);

// For the install worker: the text to show instead of installing anything, or null.
const char *signature_refusal_text();
// For the install passes: INSTALL_OK when the file may be downloaded, else why not.
int signed_file_refusal(const catalogue_entry *entry, const char *name);
// Adds the manifest's SHA-256 for name to check (when a manifest is in force).
void add_signature_check(const char *name, transfer_check *check);

// The outcome of the last check (VERDICT_NOT_REQUIRED before any), and its message text.
int library_signature_verdict();
const char *verdict_text(int verdict);
