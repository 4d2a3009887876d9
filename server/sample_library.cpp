#include "server/sample_library.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "server/file_time.h"
#include "server/platform_files.h"

struct sample_file {
    const char *name;
    uint64_t size;
    int64_t mtime;  // seconds since 1970
    long mtime_nsec;
};

// splitmix64: a tiny generator whose output is the same everywhere.
static uint64_t next_random(uint64_t *state)
{
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static bool write_sample_file(const std::string &dir, const sample_file &sample, uint64_t seed,
                              std::string *error)
{
    std::string path = dir + "/" + sample.name;
    std::string temp = path + ".part";
    file_ref fd;
    if (!create_for_writing(temp, &fd)) {
        *error = "cannot create " + temp + ": " + last_file_error();
        return false;
    }
    uint64_t state = seed;
    std::vector<unsigned char> block(1 << 16);
    uint64_t left = sample.size;
    bool ok = true;
    while (left > 0 && ok) {
        size_t count = left < block.size() ? static_cast<size_t>(left) : block.size();
        for (size_t i = 0; i < count; i += 8) {
            uint64_t r = next_random(&state);
            // Some runs of text-like bytes so the files are not pure noise.
            if ((r & 0xF) == 0)
                r = 0x2020202020202020ull | (r & 0x1F1F1F1F1F1F1F1Full) << 1;
            std::memcpy(&block[i], &r, count - i < 8 ? count - i : 8);
        }
        ok = write_file_all(fd, block.data(), count);
        left -= count;
    }
    if (ok)
        ok = set_file_mtime(fd, sample.mtime, sample.mtime_nsec);
    std::string why = ok ? std::string() : last_file_error();
    close_file(fd);
    // Renaming keeps a running server from ever publishing a half-written file.
    if (!ok || !replace_file(temp, path)) {
        *error = "cannot write " + path + ": " + (ok ? last_file_error() : why);
        remove_file(temp);
        return false;
    }
    return true;
}

static bool make_library_folder(const std::string &dir, std::string *error)
{
    if (!make_folder(dir)) {
        *error = "cannot create folder " + dir + ": " + last_file_error();
        return false;
    }
    return true;
}

// The first whole second at or after start whose file time has a low half of 2^31 or more.
static int64_t second_with_high_low_half(int64_t start)
{
    int64_t t = start;
    while (static_cast<uint32_t>(filetime_from_unix(t, 0)) < 0x80000000u)
        ++t;
    return t;
}

bool make_sample_library(const std::string &dir, std::string *error)
{
    if (!make_library_folder(dir, error))
        return false;
    // 2024-03-04 09:00:00 UTC and a few days around it.
    const int64_t base = 1709542800;
    const sample_file samples[] = {
        {"PlimoExcel.xla", 1468006, base, 0},
        {"Kickoff.xls", 47616, base - 86400 * 30, 0},
        {"Stickrow64.dll", 3145728 + 4099, second_with_high_low_half(base + 3600), 0},
        {"Stickrow.dll", 1048576 - 513, base + 7200, 123456700},
        {"PlimoChart.xla", 312331, base + 86400, 0},
        {"PlimoHelp.xls", 96768, base - 86400, 0},
        {"PlimoSetup.ini", 4093, base + 60, 0},
    };
    uint64_t seed = 0x5041564F53455431ull;
    for (const sample_file &sample : samples)
        if (!write_sample_file(dir, sample, seed++, error))
            return false;
    return true;
}

bool make_bulk_library(const std::string &dir, int megabytes, int files, std::string *error)
{
    if (!make_library_folder(dir, error))
        return false;
    if (files < 1 || files > 15 || megabytes < 1) {
        *error = "a bulk library has 1 to 15 files and at least 1 MiB";
        return false;
    }
    uint64_t total = static_cast<uint64_t>(megabytes) << 20;
    // Sizes from about half to one and a half of the mean, so per-file figures differ.
    uint64_t mean = total / static_cast<uint64_t>(files);
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Bulk%02d.dll", i + 1);
        uint64_t size =
            mean / 2 +
            (files > 1 ? mean * static_cast<uint64_t>(i) / static_cast<uint64_t>(files - 1)
                       : mean / 2) +
            7u * i;
        sample_file sample = {name, size, 1709542800 + 600 * i, 0};
        if (!write_sample_file(dir, sample, 0xB01Cull + static_cast<uint64_t>(i), error))
            return false;
    }
    return true;
}
