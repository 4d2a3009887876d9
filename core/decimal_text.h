// Decimal texts from the server (CRC, size, file-time halves) read with saturation, so a
// malformed or oversized number never wraps into a different value.
#pragma once
#include <cstdint>

// Leading blanks, an optional "+", then digits; stops at the first non-digit. No digits
// give 0; values above 4294967295 give 4294967295. An absent text gives 0.
uint32_t parse_u32_saturated(const char *text);

// Leading blanks, an optional sign, then digits; no digits give 0; values outside the
// signed 32-bit range give the nearest limit. An absent text gives 0.
int32_t parse_i32_saturated(const char *text);
