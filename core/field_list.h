// The result of cutting a flat text at a short separator.
#pragma once

enum { FIELD_LIST_CAPACITY = 150 };

struct field_list {
    const char *source;                 // the text that was split
    char separator[4];                  // at most 3 characters and a terminator
    char *starts[FIELD_LIST_CAPACITY];  // start of field i (points into source)
    int lengths[FIELD_LIST_CAPACITY];   // length of field i, separator excluded
    int count;                          // 0 to 150
};
