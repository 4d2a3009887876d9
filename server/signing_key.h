// The publisher's signing key (ECDSA P-256) for library manifests, kept in a PEM file that
// only its owner can read. Signing is meant to happen offline, away from the server.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Writes a new private key to path, created with mode 0600; refuses an existing path.
// *public_key gets the public key as base64 of the 64-byte X || Y point.
bool make_signing_key(const std::string &path, std::string *public_key, std::string *error);

// The base64 public key of the private key in path.
bool signing_public_key(const std::string &path, std::string *public_key, std::string *error);

// ECDSA P-256 over SHA-256 of data, as the 64-byte r || s form (each big-endian, padded).
bool sign_with_key(const std::string &path, const void *data, size_t length, uint8_t signature[64],
                   std::string *error);
