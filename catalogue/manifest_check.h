// Whether the library on the server is the one its publisher signed. With no PublisherKey
// configured nothing is checked and nothing changes. With one, the manifest is fetched after
// each catalogue; files are installed only when it verifies, and only those it lists with
// the catalogue's size, each checked against its SHA-256 before it replaces the old file.
#pragma once
#include <windows.h>
#include <cstdint>
#include "catalogue/catalogue.h"
#include "catalogue/manifest.h"
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
    VERDICT_NO_CRYPTO,  // the system cannot check signatures
    VERDICT_TOO_SLOW,   // the manifest's transfer stayed below the minimum rate
};

// Checks a fetched manifest: signature against every configured key, then the sequence
// (per key, kept in the registry) and the expiry against now (UNIX seconds). On
// VERDICT_VERIFIED *out holds it and the sequence is remembered as accepted.
int verify_library_manifest(const char *text, size_t length, const publisher_keys *keys,
                            uint64_t now, manifest *out);

// After each catalogue: fetches over the protocol that delivered it, verifies, and says the
// outcome in the main window's message line (nothing when no key is configured).
void check_library_signature(HWND main_window);

// For the install worker: the text to show instead of installing anything, or null.
const char *signature_refusal_text();
// For the install passes: INSTALL_OK when the file may be downloaded, else why not.
int signed_file_refusal(const catalogue_entry *entry, const char *name);
// Adds the manifest's SHA-256 for name to check (when a manifest is in force).
void add_signature_check(const char *name, transfer_check *check);

// The outcome of the last check (VERDICT_NOT_REQUIRED before any), and its message text.
int library_signature_verdict();
const char *verdict_text(int verdict);
