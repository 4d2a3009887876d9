#include "server/code_page_949.h"

#include <iconv.h>

bool utf8_to_cp949(const std::string &utf8, std::string *cp949)
{
    iconv_t cd = iconv_open("CP949", "UTF-8");
    if (cd == (iconv_t)-1)
        return false;
    std::string out(utf8.size() * 2 + 4, '\0');
    char *in_ptr = const_cast<char *>(utf8.data());
    size_t in_left = utf8.size();
    char *out_ptr = &out[0];
    size_t out_left = out.size();
    size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    // Irreversible conversions (a count above 0) are refused like outright failures.
    if (rc == (size_t)-1 || rc != 0 || in_left != 0)
        return false;
    out.resize(out.size() - out_left);
    *cp949 = out;
    return true;
}
