#include "server/file_time.h"

enum : uint64_t { UNIX_TO_FILETIME_SECONDS = 11644473600ull, TICKS_PER_SECOND = 10000000ull };

uint64_t filetime_from_unix(int64_t seconds, long nanoseconds)
{
    // Times before 1601 cannot be expressed; clamp rather than wrap into the far future.
    int64_t since_1601 = seconds + static_cast<int64_t>(UNIX_TO_FILETIME_SECONDS);
    if (since_1601 < 0)
        return 0;
    return static_cast<uint64_t>(since_1601) * TICKS_PER_SECOND +
           static_cast<uint64_t>(nanoseconds) / 100;
}

int32_t filetime_low_signed(uint64_t filetime)
{
    return static_cast<int32_t>(static_cast<uint32_t>(filetime & 0xFFFFFFFFu));
}

int32_t filetime_high_signed(uint64_t filetime)
{
    return static_cast<int32_t>(static_cast<uint32_t>(filetime >> 32));
}
