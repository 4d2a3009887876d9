#include "temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

temp_dir make_temp_dir()
{
    static std::atomic<unsigned> serial{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = ".";
    for (;;) {
        fs::path candidate =
            base / ("pavoset-core-" + std::to_string(stamp) + "-" + std::to_string(serial++));
        if (fs::create_directory(candidate, ec))
            return temp_dir{candidate.string()};
        if (ec)
            return temp_dir{};  // empty: the tests using it fail on their own
    }
}

void remove_temp_dir(const temp_dir &dir)
{
    if (dir.path.empty())
        return;
    std::error_code ec;
    fs::remove_all(dir.path, ec);
}

std::string write_temp_file(const temp_dir &dir, const char *name, const std::string &bytes)
{
    std::string path = (fs::path(dir.path) / name).string();
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}
