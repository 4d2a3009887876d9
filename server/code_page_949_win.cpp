#include "server/code_page_949.h"

#include <windows.h>

static const UINT CP_KOREAN = 949;

bool utf8_to_cp949(const std::string &utf8, std::string *cp949)
{
    if (utf8.empty()) {
        cp949->clear();
        return true;
    }
    int in_size = static_cast<int>(utf8.size());
    int wide_count =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), in_size, nullptr, 0);
    if (wide_count <= 0)
        return false;
    std::wstring wide(static_cast<size_t>(wide_count), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), in_size, &wide[0], wide_count);
    BOOL used_default = FALSE;
    int count = WideCharToMultiByte(CP_KOREAN, WC_NO_BEST_FIT_CHARS, wide.data(), wide_count,
                                    nullptr, 0, nullptr, &used_default);
    if (count <= 0 || used_default)
        return false;
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_KOREAN, WC_NO_BEST_FIT_CHARS, wide.data(), wide_count, &out[0], count,
                        nullptr, &used_default);
    if (used_default)
        return false;
    // Only a name that converts back to the same characters is exact.
    int back_count =
        MultiByteToWideChar(CP_KOREAN, MB_ERR_INVALID_CHARS, out.data(), count, nullptr, 0);
    std::wstring back(back_count > 0 ? static_cast<size_t>(back_count) : 0, L'\0');
    if (back_count <= 0 ||
        MultiByteToWideChar(CP_KOREAN, MB_ERR_INVALID_CHARS, out.data(), count, &back[0],
                            back_count) != back_count ||
        back != wide)
        return false;
    *cp949 = out;
    return true;
}
