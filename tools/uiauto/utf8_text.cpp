#include "utf8_text.h"

#include <windows.h>

std::string to_utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                     nullptr);
    if (needed <= 0)
        return std::string();
    std::string out((size_t)needed, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], needed, nullptr,
                        nullptr);
    return out;
}

static void write_handle(DWORD which, const std::string &text)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return;
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, p, (DWORD)left, &written, nullptr) || written == 0)
            return;
        p += written;
        left -= written;
    }
}

void write_out(const std::string &text)
{
    write_handle(STD_OUTPUT_HANDLE, text);
}
void write_err(const std::string &text)
{
    write_handle(STD_ERROR_HANDLE, text);
}
