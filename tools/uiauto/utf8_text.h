// Text conversion and output for the driver: Windows hands us UTF-16, scripts read UTF-8.
#pragma once
#include <string>

std::string to_utf8(const std::wstring &text);

// Writes the bytes unchanged to standard output / error, so a pipe sees UTF-8 whatever
// the console code page is.
void write_out(const std::string &text);
void write_err(const std::string &text);
