// Checking a manifest's signature in the server tests as a client does: from the printed
// public key and the r || s form only, with nothing else of the signer's.
#pragma once
#include <cstdint>
#include <string>

bool verifies(const std::string &public_key, const std::string &data, const uint8_t *rs);
