#include "server/platform_files.h"

#include <windows.h>

#include "server/win_text.h"

static const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// 100-nanosecond intervals between 1601 and 1970.
static const int64_t UNIX_EPOCH_TICKS = 116444736000000000LL;

static std::wstring wide_path(const std::string &path)
{
    std::wstring wide = widen(path);
    for (wchar_t &c : wide)
        if (c == L'/')
            c = L'\\';
    return wide;
}

std::string resolve_path(const std::string &path)
{
    // The system's own answer for an open file: links, junctions, 8.3 names and "..", all
    // resolved, so a served file can be checked to lie inside the root by comparing texts.
    HANDLE h = CreateFileW(wide_path(path).c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::wstring final_path(1024, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, &final_path[0], static_cast<DWORD>(final_path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= final_path.size()) {
        final_path.assign(n + 1, L'\0');
        n = GetFinalPathNameByHandleW(h, &final_path[0], static_cast<DWORD>(final_path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(h);
    if (n == 0 || n >= final_path.size())
        return std::string();
    final_path.resize(n);
    if (final_path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        final_path = L"\\\\" + final_path.substr(8);
    else if (final_path.compare(0, 4, L"\\\\?\\") == 0)
        final_path = final_path.substr(4);
    for (wchar_t &c : final_path)
        if (c == L'\\')
            c = L'/';
    std::string utf8;
    if (!narrow(final_path, &utf8))
        return std::string();
    return utf8;
}

static void facts_from_information(const BY_HANDLE_FILE_INFORMATION &info, file_facts *facts)
{
    facts->folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts->link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts->regular = !facts->folder && !facts->link;
    facts->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime) -
        UNIX_EPOCH_TICKS;
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    facts->mtime_sec = seconds;
    facts->mtime_nsec = static_cast<long>(rest * 100);
    facts->device = info.dwVolumeSerialNumber;
    facts->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

bool path_facts(const std::string &path, bool follow, file_facts *facts)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(wide_path(path).c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = handle_facts(h, facts);
    CloseHandle(h);
    return ok;
}

bool list_folder(const std::string &folder, std::vector<std::string> *names, std::string *error)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((wide_path(folder) + L"\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        *error = last_file_error();
        return false;
    }
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::string utf8;
        // A name that is not valid UTF-16 has no code page 949 form either: a byte that is
        // never valid UTF-8 makes the catalogue refuse it by name instead of serving a guess.
        if (!narrow(name, &utf8))
            utf8 += '\xFF';
        names->push_back(utf8);
    } while (FindNextFileW(h, &found));
    DWORD last = GetLastError();
    FindClose(h);
    if (last != ERROR_NO_MORE_FILES) {
        *error = windows_error_text(last);
        return false;
    }
    return true;
}

bool open_for_reading(const std::string &path, bool no_follow, file_ref *file)
{
    // Others may read, replace or delete the file meanwhile: publishing by renaming a new
    // file over an old one must not fail because a client is fetching the old one.
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN |
                  (no_follow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = CreateFileW(wide_path(path).c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                           flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (no_follow) {
        file_facts facts;
        if (!handle_facts(h, &facts) || facts.link) {
            CloseHandle(h);
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return false;
        }
    }
    *file = h;
    return true;
}

bool handle_facts(file_ref file, file_facts *facts)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    facts_from_information(info, facts);
    return true;
}

long long read_file(file_ref file, void *buffer, size_t size)
{
    DWORD count = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(file, buffer, count, &got, nullptr))
        return -1;
    return got;
}

void close_file(file_ref file)
{
    if (file && file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

bool create_for_writing(const std::string &path, file_ref *file)
{
    HANDLE h = CreateFileW(wide_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    *file = h;
    return true;
}

bool write_file_all(file_ref file, const void *data, size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        DWORD count = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, count, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool set_file_mtime(file_ref file, int64_t seconds, long nanoseconds)
{
    uint64_t ticks =
        static_cast<uint64_t>(seconds * 10000000 + nanoseconds / 100 + UNIX_EPOCH_TICKS);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return SetFileTime(file, nullptr, &time, &time) != 0;
}

bool flush_file(file_ref file)
{
    return FlushFileBuffers(file) != 0;
}

bool replace_file(const std::string &from, const std::string &to)
{
    return MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void remove_file(const std::string &path)
{
    DeleteFileW(wide_path(path).c_str());
}

bool make_folder(const std::string &path)
{
    std::wstring wide = wide_path(path);
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

FILE *open_for_appending(const std::string &path)
{
    return _wfopen(wide_path(path).c_str(), L"a");
}

std::string last_file_error()
{
    return windows_error_text(GetLastError());
}
