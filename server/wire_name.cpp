#include "server/wire_name.h"

#include <cctype>
#include <cstring>

#include "core/library_name.h"
#include "core/text_protocol.h"
#include "server/code_page_949.h"

bool wire_name_from_utf8(const std::string &utf8, std::string *cp949, std::string *reason)
{
    if (!utf8_to_cp949(utf8, cp949)) {
        *reason = "name is not valid UTF-8 or has no code page 949 form";
        return false;
    }
    return true;
}

std::string wire_name_problem(const std::string &name)
{
    if (name.empty())
        return "empty name";
    if (name.size() > LIBRARY_NAME_MAX)
        return "name longer than " + std::to_string(LIBRARY_NAME_MAX) + " bytes";
    if (name == "." || name == "..")
        return "name is . or ..";
    if (std::memchr(name.data(), '\0', name.size()))
        return "name holds a NUL byte";
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return "name holds a control character";
        // Windows refuses these in file names; '|' also covers both catalogue separators.
        if (std::strchr("\\/:*?\"<>|", c))
            return std::string("name holds '") + static_cast<char>(c) + "'";
    }
    if (name.find(TEXT_FIELD_SEPARATOR) != std::string::npos ||
        name.find(TEXT_RECORD_SEPARATOR) != std::string::npos)
        return "name holds a catalogue separator";
    // Windows drops trailing dots and blanks, so the installed file would not match the name.
    if (name.back() == '.' || name.back() == ' ')
        return "name ends with a dot or a blank";
    if (library_name_is_device(name.c_str()))
        return "name is a Windows device name";
    if (!library_name_is_safe(name.c_str()))
        return "name could leave the install folder";
    // The client's splitter steps over a character reference and the byte after it, so a name
    // ending in "&" + letters would swallow the separator that follows it.
    size_t amp = name.rfind('&');
    if (amp != std::string::npos && amp + 1 < name.size()) {
        bool letters = true;
        for (size_t i = amp + 1; i < name.size(); ++i)
            letters = letters && std::isalpha(static_cast<unsigned char>(name[i]));
        if (letters)
            return "name ends with a character reference";
    }
    // The splitter also strips enclosing apostrophes, which would change the name.
    if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'')
        return "name is enclosed in apostrophes";
    return std::string();
}
