#include "tests/server/test_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

bool external_test_server()
{
    const char *command = std::getenv("PAVOSET_TEST_SERVER_CMD");
    return command && *command;
}

// The options as the command line gives them, for an external server.
static std::vector<std::string> option_arguments(const server_options &options,
                                                 const std::string &prefix,
                                                 const std::string &port_file)
{
    static const char *const levels[] = {"error", "warn", "info", "debug"};
    std::vector<std::string> args = {"--root",
                                     prefix + options.root,
                                     "--bind",
                                     options.bind_address,
                                     "--port",
                                     std::to_string(options.port),
                                     "--file-port",
                                     std::to_string(options.file_port),
                                     "--port-file",
                                     prefix + port_file,
                                     "--answer-gap-ms",
                                     std::to_string(options.answer_gap_ms),
                                     "--request-timeout-ms",
                                     std::to_string(options.request_timeout_ms),
                                     "--idle-timeout-ms",
                                     std::to_string(options.idle_timeout_ms),
                                     "--stall-timeout-ms",
                                     std::to_string(options.stall_timeout_ms),
                                     "--exchange-timeout-ms",
                                     std::to_string(options.exchange_timeout_ms),
                                     "--max-connections",
                                     std::to_string(options.max_connections),
                                     "--window-kb",
                                     std::to_string(options.window_kb),
                                     "--log-level",
                                     levels[options.level]};
    if (options.announce_port) {
        args.push_back("--announce-port");
        args.push_back(std::to_string(options.announce_port));
    }
    if (options.answer_wait_ack)
        args.push_back("--answer-wait-ack");
    return args;
}

static std::unique_ptr<running_server> start_external_server(const server_options &options)
{
    const char *prefix_env = std::getenv("PAVOSET_TEST_SERVER_PATH_PREFIX");
    std::string prefix = prefix_env ? prefix_env : "";
    std::vector<std::string> args;
    std::istringstream words(std::getenv("PAVOSET_TEST_SERVER_CMD"));
    for (std::string word; words >> word;)
        args.push_back(word);
    std::string port_file = options.root + ".ports";
    std::remove(port_file.c_str());
    for (const std::string &arg : option_arguments(options, prefix, port_file))
        args.push_back(arg);
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    auto running = std::make_unique<running_server>();
    running->pid = fork();
    if (running->pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    EXPECT_GT(running->pid, 0);
    if (running->pid <= 0)
        return nullptr;
    // A program under Wine takes a while to start; the port file appears whole when it is up.
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
        std::ifstream in(port_file);
        std::string text_word, file_word;
        if (in >> text_word >> running->ports.text >> file_word >> running->ports.file)
            break;
        int status = 0;
        if (waitpid(running->pid, &status, WNOHANG) == running->pid) {
            running->pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::remove(port_file.c_str());
    if (running->ports.text <= 0 || running->ports.file <= 0) {
        ADD_FAILURE() << "external server did not start: "
                      << std::getenv("PAVOSET_TEST_SERVER_CMD");
        stop_test_server(running.get());
        return nullptr;
    }
    return running;
}

std::unique_ptr<running_server> start_test_server(const server_options &options)
{
    set_log_level(options.level);
    if (external_test_server())
        return start_external_server(options);
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
    if (running->pid > 0) {
        // The orderly stop, as an operator's Ctrl+C (Wine hands SIGINT to a console program as
        // Ctrl+C). SIGTERM would end a Wine process abruptly, and Wine sometimes keeps such a
        // process's sockets open for good, so a test of the server's own stop would see no
        // close at all. A server that does not stop in time is killed and fails the test.
        kill(running->pid, SIGINT);
        auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        while (waitpid(running->pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= give_up) {
                ADD_FAILURE() << "external server did not stop on SIGINT within 30 s";
                kill(running->pid, SIGKILL);
                waitpid(running->pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        running->pid = -1;
        return;
    }
    if (!running->server)
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
