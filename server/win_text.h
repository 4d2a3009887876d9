// UTF-8 and UTF-16 for the Windows calls (Windows build only).
#pragma once
#include <string>

// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::wstring widen(const std::string &utf8);
// UTF-16 to UTF-8. False when the text holds an unpaired surrogate; *out is then a lossy form.
bool narrow(const std::wstring &wide, std::string *out);
std::string narrow(const std::wstring &wide);
// The text of a Windows error code, in UTF-8.
std::string windows_error_text(unsigned long code);
