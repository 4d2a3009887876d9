#include "core/name_case.h"

#include <windows.h>
#include <cstring>

enum { CODE_PAGE_949 = 949, NAME_WIDE_MAX = 520 };

// The whole name in UTF-16, or 0 when it is not code page 949 text.
static int widen(const char *name, wchar_t *wide)
{
    return MultiByteToWideChar(CODE_PAGE_949, MB_ERR_INVALID_CHARS, name, -1, wide, NAME_WIDE_MAX);
}

int library_names_same_file(const char *a, const char *b)
{
    if (!a || !b)
        return 0;
    if (strcmp(a, b) == 0)
        return 1;
    wchar_t wide_a[NAME_WIDE_MAX], wide_b[NAME_WIDE_MAX];
    int length_a = widen(a, wide_a), length_b = widen(b, wide_b);
    if (length_a <= 0 || length_b <= 0)
        return 0;
    // The ordinal comparison with ignore-case uses the file system's own upper-case table.
    return CompareStringOrdinal(wide_a, length_a - 1, wide_b, length_b - 1, TRUE) == CSTR_EQUAL;
}
