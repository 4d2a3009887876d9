// A deterministic library for demos, tests and the load benchmark.
#pragma once
#include <string>

// The demo library: PlimoExcel.xla, Kickoff.xls, Stickrow64.dll and four more, from a few KB
// to a few MB, fixed contents and file times (one with a file time low half of 2^31 or more).
// Returns false with *error when a file cannot be written.
bool make_sample_library(const std::string &dir, std::string *error);

// A bulk library of files files totalling about megabytes MiB, for the load benchmark.
bool make_bulk_library(const std::string &dir, int megabytes, int files, std::string *error);
