#include "core/decimal_text.h"

static const char *skip_blanks(const char *p)
{
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    return p;
}

uint32_t parse_u32_saturated(const char *text)
{
    if (!text)
        return 0;
    const char *p = skip_blanks(text);
    if (*p == '+')
        ++p;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (uint64_t)(*p - '0');
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return (uint32_t)value;
}

int32_t parse_i32_saturated(const char *text)
{
    if (!text)
        return 0;
    const char *p = skip_blanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > (int64_t)INT32_MAX + 1)
            break;  // already beyond either limit; the rest cannot bring it back
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return (int32_t)value;
}
