#include "server/win_text.h"

#include <windows.h>

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    int count =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], count);
    return wide;
}

bool narrow(const std::wstring &wide, std::string *out)
{
    out->clear();
    if (wide.empty())
        return true;
    int size = static_cast<int>(wide.size());
    int count = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0,
                                    nullptr, nullptr);
    bool exact = count > 0;
    if (!exact)
        count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    out->assign(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, exact ? WC_ERR_INVALID_CHARS : 0, wide.data(), size, &(*out)[0],
                        count, nullptr, nullptr);
    return exact;
}

std::string narrow(const std::wstring &wide)
{
    std::string out;
    narrow(wide, &out);
    return out;
}

std::string windows_error_text(unsigned long code)
{
    wchar_t *text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring wide = n && text ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.'))
        wide.pop_back();
    std::string message = narrow(wide);
    return message.empty() ? "error " + std::to_string(code) : message;
}
