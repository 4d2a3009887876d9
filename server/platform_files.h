// The few file system operations the server needs, with one implementation per system
// (platform_files_posix.cpp, platform_files_win.cpp). Paths are UTF-8 and use '/' between
// components on every system, so the catalogue code can compare and join them as text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
typedef void *file_ref;  // a HANDLE
#else
typedef int file_ref;  // a descriptor
#endif

// What the catalogue needs to know of a file.
struct file_facts {
    bool regular = false;
    bool folder = false;
    bool link = false;  // a symbolic link or other redirection (only when not followed)
    uint64_t size = 0;
    int64_t mtime_sec = 0;  // modification time since 1970 UTC
    long mtime_nsec = 0;
    uint64_t device = 0;  // device and file number: a file replaced under the same name differs
    uint64_t inode = 0;
};

// The absolute path with every link resolved, or "" when it does not resolve.
std::string resolve_path(const std::string &path);

// Facts about path, following a final link or not. False when it cannot be examined.
bool path_facts(const std::string &path, bool follow, file_facts *facts);

// The names in a folder, without "." and "..". False with *error when it cannot be read.
bool list_folder(const std::string &folder, std::vector<std::string> *names, std::string *error);

// Opens a file for reading; with no_follow a final link is refused. False when it cannot be.
bool open_for_reading(const std::string &path, bool no_follow, file_ref *file);
bool handle_facts(file_ref file, file_facts *facts);
// Reads at the handle's position: the count read, 0 at the end, -1 on an error.
long long read_file(file_ref file, void *buffer, size_t size);
void close_file(file_ref file);

// Writing the sample library and the port file.
bool create_for_writing(const std::string &path, file_ref *file);
bool write_file_all(file_ref file, const void *data, size_t size);
bool set_file_mtime(file_ref file, int64_t seconds, long nanoseconds);
// Puts the written bytes on disk, so a rename that follows never exposes an empty file.
bool flush_file(file_ref file);
// Renames from over to (replacing it), so readers see the old file or the whole new one.
bool replace_file(const std::string &from, const std::string &to);
void remove_file(const std::string &path);
// Creates the folder unless it exists; false when there is no folder at path afterwards.
bool make_folder(const std::string &path);

// Opens a text file for appending (the log), or null.
FILE *open_for_appending(const std::string &path);

// The last failure of one of the above, for messages.
std::string last_file_error();
