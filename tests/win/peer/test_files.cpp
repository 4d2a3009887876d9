#include "test_files.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <vector>

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

bool make_junction(const std::string &link, const std::string &target)
{
    if (!CreateDirectoryA(link.c_str(), nullptr))
        return false;
    HANDLE folder = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        RemoveDirectoryA(link.c_str());
        return false;
    }
    // A mount-point reparse buffer: the NT path to follow, then the name to print.
    std::wstring substitute = L"\\??\\", print;
    for (char c : target)
        print.push_back((wchar_t)(unsigned char)c);
    substitute += print;
    USHORT sub_bytes = (USHORT)(substitute.size() * 2), print_bytes = (USHORT)(print.size() * 2);
    std::vector<BYTE> buffer(16 + sub_bytes + 2 + print_bytes + 2, 0);
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    USHORT data_length = (USHORT)(buffer.size() - 8);
    USHORT fields[4] = {0, sub_bytes, (USHORT)(sub_bytes + 2), print_bytes};
    memcpy(&buffer[0], &tag, 4);
    memcpy(&buffer[4], &data_length, 2);
    memcpy(&buffer[8], fields, 8);
    memcpy(&buffer[16], substitute.data(), sub_bytes);
    memcpy(&buffer[16 + sub_bytes + 2], print.data(), print_bytes);
    DWORD returned = 0;
    BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                (DWORD)buffer.size(), nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    if (!made)
        RemoveDirectoryA(link.c_str());
    return made != FALSE;
}
