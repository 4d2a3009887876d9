// Names on disk (UTF-8) in the client's code page 949, one implementation per system
// (code_page_949_posix.cpp, code_page_949_win.cpp).
#pragma once
#include <string>

// False when utf8 is not valid UTF-8 or some character has no exact code page 949 form:
// a best-fit substitute would publish a name that maps back to a different file.
bool utf8_to_cp949(const std::string &utf8, std::string *cp949);
