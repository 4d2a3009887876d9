// The field splitter for std::string callers (the load generator, the probe, tests): the same
// cuts the client makes, each field copied out.
#pragma once
#include <string>
#include <vector>

// The fields of text cut at separator as split_fields cuts them (character references and
// quoted fields kept together, enclosing quotes stripped, at most FIELD_LIST_CAPACITY fields;
// a closing separator leaves an empty last field). An empty text has no fields.
std::vector<std::string> split_field_texts(const std::string &text, const char *separator);
