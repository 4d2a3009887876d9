#include "tests/server/test_server.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

#include "server/sample_library.h"

server_options test_options(const std::string &root)
{
    server_options options;
    options.root = root;
    options.port = 0;
    options.file_port = 0;
    // Generous: under a loaded test machine a client thread may take a while to reach its
    // first receive, and then it would lose the file's first bytes, as the program would.
    options.answer_gap_ms = 100;
    options.request_timeout_ms = 2000;
    options.stall_timeout_ms = 3000;
    options.exchange_timeout_ms = 2000;
    options.level = LOG_WARN;
    // PAVOSET_TEST_LOG=debug shows the server's side of a failing test.
    if (const char *level = std::getenv("PAVOSET_TEST_LOG"))
        parse_log_level(level, &options.level);
    return options;
}

std::unique_ptr<running_server> start_test_server(const server_options &options)
{
    set_log_level(options.level);
    auto running = std::make_unique<running_server>();
    std::string error;
    running->server = start_server(running->io, options, &running->ports, &error);
    EXPECT_TRUE(running->server) << error;
    if (!running->server)
        return nullptr;
    running->thread = std::thread([r = running.get()] { r->io.run(); });
    return running;
}

void stop_test_server(running_server *running)
{
    if (!running)
        return;
    asio::post(running->io, [running] { stop_server(running->server.get()); });
    running->thread.join();
}

std::string make_scratch_folder()
{
    char pattern[] = "/tmp/pavoset-server-test.XXXXXX";
    char *dir = mkdtemp(pattern);
    EXPECT_NE(dir, nullptr);
    return dir ? dir : "/tmp/pavoset-server-test-failed";
}

void remove_folder(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void write_file(const std::string &path, const std::string &content, long long mtime)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string make_sample_folder()
{
    std::string dir = make_scratch_folder();
    std::string error;
    EXPECT_TRUE(make_sample_library(dir, &error)) << error;
    return dir;
}
