// Files for the Windows tests: whole-file reads and writes, trees to remove, reproducible
// contents and what a catalogue says of them.
#pragma once
#include <cstdint>
#include <string>

std::string read_whole_file(const std::string &path);  // "" when absent: check path_exists
bool write_whole_file(const std::string &path, const std::string &bytes);
bool path_exists(const char *path);
void remove_tree(const char *path);          // files and folders below, then path
uint64_t last_write_time(const char *path);  // 0 when absent

uint32_t crc_of(const std::string &bytes);
std::string make_bytes(size_t size, uint32_t seed);  // reproducible file contents
// A catalogue record "name^|crc^|size^|low^|high" for these bytes.
std::string record_for(const std::string &name, const std::string &bytes,
                       const std::string &low = "100", const std::string &high = "30000000");

// Makes link a junction to the folder target (both absolute). False where the system cannot
// (Wine 8 refuses FSCTL_SET_REPARSE_POINT): the caller skips what needs one.
bool make_junction(const std::string &link, const std::string &target);
