// Splitting texts into fields: the general splitter, the record splitter for "~|",
// terminating fields in place, and the suffix test used by the local comparison.
#pragma once
#include "core/field_list.h"

// General splitter. Does not modify text; steps over character references and keeps a
// field that begins with a double quote together. Returns the number of fields.
int split_fields(field_list *list, char *text, const char *separator, int max_count);

// Plain "~|" splitter, at most 150 records; writes a terminator over each "~" it cuts at.
int split_records(field_list *list, char *text);

// Writes a terminator after every field when the list holds two or more fields.
void terminate_fields(field_list *list);

// 1 when text's last bytes are exactly suffix (no dot implied, letter case counts: "fooxla"
// has the suffix "xla", "A.XLA" has not); 0 otherwise, and when either is absent or empty.
int has_suffix(const char *text, const char *suffix);
