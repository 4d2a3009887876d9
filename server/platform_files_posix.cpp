#include "server/platform_files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string resolve_path(const std::string &path)
{
    char buffer[PATH_MAX];
    if (!realpath(path.c_str(), buffer))
        return std::string();
    return buffer;
}

static void facts_from_stat(const struct stat &st, file_facts *facts)
{
    facts->regular = S_ISREG(st.st_mode);
    facts->folder = S_ISDIR(st.st_mode);
    facts->link = S_ISLNK(st.st_mode);
    facts->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    facts->mtime_sec = st.st_mtim.tv_sec;
    facts->mtime_nsec = st.st_mtim.tv_nsec;
    facts->device = static_cast<uint64_t>(st.st_dev);
    facts->inode = static_cast<uint64_t>(st.st_ino);
}

bool path_facts(const std::string &path, bool follow, file_facts *facts)
{
    struct stat st;
    if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return false;
    facts_from_stat(st, facts);
    return true;
}

bool list_folder(const std::string &folder, std::vector<std::string> *names, std::string *error)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        *error = std::strerror(errno);
        return false;
    }
    while (struct dirent *entry = readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, ".."))
            continue;
        names->push_back(entry->d_name);
    }
    closedir(dir);
    return true;
}

bool open_for_reading(const std::string &path, bool no_follow, file_ref *file)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (no_follow ? O_NOFOLLOW : 0));
    if (fd < 0)
        return false;
    *file = fd;
    return true;
}

bool handle_facts(file_ref file, file_facts *facts)
{
    struct stat st;
    if (fstat(file, &st) != 0)
        return false;
    facts_from_stat(st, facts);
    return true;
}

long long read_file(file_ref file, void *buffer, size_t size)
{
    for (;;) {
        ssize_t n = read(file, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

void close_file(file_ref file)
{
    if (file >= 0)
        close(file);
}

bool create_for_writing(const std::string &path, file_ref *file)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    *file = fd;
    return true;
}

bool write_file_all(file_ref file, const void *data, size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(file, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool set_file_mtime(file_ref file, int64_t seconds, long nanoseconds)
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = nanoseconds;
    return futimens(file, times) == 0;
}

bool flush_file(file_ref file)
{
    return fsync(file) == 0;
}

bool replace_file(const std::string &from, const std::string &to)
{
    return rename(from.c_str(), to.c_str()) == 0;
}

void remove_file(const std::string &path)
{
    unlink(path.c_str());
}

bool make_folder(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

FILE *open_for_appending(const std::string &path)
{
    return std::fopen(path.c_str(), "a");
}

std::string last_file_error()
{
    return std::strerror(errno);
}
