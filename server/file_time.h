// Modification times as the client's Windows file times.
#pragma once
#include <cstdint>
#include <ctime>

// 100-nanosecond intervals since 1601-01-01 UTC.
uint64_t filetime_from_unix(int64_t seconds, long nanoseconds);

// The halves as the client reads them: each one's bit pattern as a signed 32-bit number,
// so a half of 2^31 or more is written in its negative form.
int32_t filetime_low_signed(uint64_t filetime);
int32_t filetime_high_signed(uint64_t filetime);
