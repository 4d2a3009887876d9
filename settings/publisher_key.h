// Which publishers' manifests this machine trusts ("PublisherKey"), and the highest manifest
// sequence number already accepted from each.
#pragma once
#include <cstdint>

enum { PUBLISHER_KEYS_MAX = 8, PUBLISHER_KEY_TEXT_MAX = 1024 };

enum publisher_key_state {
    PUBLISHER_KEYS_NONE = 0,  // nothing configured: libraries install unsigned, as always
    PUBLISHER_KEYS_READY,     // count keys to check manifests against
    PUBLISHER_KEYS_INVALID,   // configured, but a key is not 64 bytes of base64
};

struct publisher_keys {
    int state;
    int count;
    uint8_t keys[PUBLISHER_KEYS_MAX][64];  // X || Y of each P-256 public key
};

// Reads the keys from text: base64 keys separated by ';' (blanks around them ignored).
void parse_publisher_keys(const char *text, publisher_keys *out);

// The machine's value (HKEY_LOCAL_MACHINE, which a user cannot change) wins; only without it
// the user's (HKEY_CURRENT_USER), and only without both a PublisherKey line in Offline.INI.
// A value that is there but is no REG_SZ, is too long, names no key, or sits in a key that
// cannot be opened gives PUBLISHER_KEYS_INVALID, as does a blank machine value: never the next
// source. Offline.INI's key is taken from whichever of its two files holds one.
void load_publisher_keys(publisher_keys *out);

// Per key, under HKEY_CURRENT_USER: 0 when none was accepted yet.
uint64_t accepted_sequence(const uint8_t key[64]);
void remember_accepted_sequence(const uint8_t key[64], uint64_t sequence);
