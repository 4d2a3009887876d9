// Whether two library names (code page 949 bytes) name one file on Windows, whose file
// systems compare whole names without regard to letter case: full-width, Greek and Cyrillic
// letters fold as ASCII ones do. One implementation per system (name_case_win.cpp,
// name_case_posix.cpp), so the client and the server refuse the same pairs.
#pragma once

// 1 when a and b are one file name on Windows, 0 otherwise. Bytes that are no code page 949
// text are compared exactly (such a name is refused elsewhere anyway).
int library_names_same_file(const char *a, const char *b);
