// Which file names the server may publish, and their code page 949 form on the wire.
#pragma once
#include <string>

// Converts a name from the file system's UTF-8 to code page 949. False (and *reason set)
// when some character has no code page 949 form.
bool wire_name_from_utf8(const std::string &utf8, std::string *cp949, std::string *reason);

// Empty when the client can take the code page 949 name safely as a catalogue field, a
// request and a file in its install folder; otherwise a short reason.
std::string wire_name_problem(const std::string &cp949);
