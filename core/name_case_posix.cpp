#include "core/name_case.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#include <cstring>
#include <string>

// The name as Unicode code points, upper-cased one by one. Windows' file systems fold with a
// table of simple upper-case mappings fixed when the volume was made; glibc's C.UTF-8 locale
// gives Unicode's simple mappings. The two agree on the letters a library name can hold in
// code page 949 (ASCII, full-width Latin, Greek, Cyrillic); they may differ for letters whose
// upper case Windows leaves alone (for example the dotless i or the long s).
static bool folded(const char *name, std::wstring *out)
{
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    iconv_t cd = iconv_open("WCHAR_T", "CP949");
    if (cd == (iconv_t)-1)
        return false;
    size_t in_left = strlen(name);
    std::wstring wide(in_left + 1, L'\0');
    char *in_ptr = const_cast<char *>(name);
    char *out_ptr = reinterpret_cast<char *>(&wide[0]);
    size_t out_left = wide.size() * sizeof(wchar_t);
    size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (rc == (size_t)-1 || in_left != 0)
        return false;
    wide.resize(wide.size() - out_left / sizeof(wchar_t));
    for (wchar_t &c : wide)
        c = (wchar_t)(unicode ? towupper_l((wint_t)c, unicode) : towupper((wint_t)c));
    *out = wide;
    return true;
}

int library_names_same_file(const char *a, const char *b)
{
    if (!a || !b)
        return 0;
    if (strcmp(a, b) == 0)
        return 1;
    std::wstring fa, fb;
    if (!folded(a, &fa) || !folded(b, &fb))
        return 0;
    return fa == fb;
}
