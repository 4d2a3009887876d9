#include "test_files.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/file_checksum.h"
#include "core/text_protocol.h"

std::string read_whole_file(const std::string &path)
{
    std::string bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, got);
    fclose(f);
    return bytes;
}

bool write_whole_file(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool path_exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        std::string pattern = std::string(path) + "\\*";
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, ".."))
                    continue;
                remove_tree((std::string(path) + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path);
    } else {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }
}

uint64_t last_write_time(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

uint32_t crc_of(const std::string &bytes)
{
    return crc32_update(0, bytes.data(), bytes.size());
}

std::string make_bytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = (char)(x & 0xFF);
    }
    return bytes;
}

std::string record_for(const std::string &name, const std::string &bytes, const std::string &low,
                       const std::string &high)
{
    return name + TEXT_FIELD_SEPARATOR + std::to_string(crc_of(bytes)) + TEXT_FIELD_SEPARATOR +
           std::to_string(bytes.size()) + TEXT_FIELD_SEPARATOR + low + TEXT_FIELD_SEPARATOR + high;
}
