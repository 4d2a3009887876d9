// A private scratch folder per test, removed afterwards, for tests that need real files.
#pragma once
#include <string>

struct temp_dir {
    std::string path;  // ends without a separator
};

temp_dir make_temp_dir();
void remove_temp_dir(const temp_dir &dir);
// Writes bytes to dir/name and returns the full path.
std::string write_temp_file(const temp_dir &dir, const char *name, const std::string &bytes);
