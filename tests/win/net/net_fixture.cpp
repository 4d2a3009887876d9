#include "net_fixture.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {
// Winsock 1.1, as the program starts it.
class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(0x0101, &data));
    }
    void TearDown() override { WSACleanup(); }
};
::testing::Environment *const winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);
}  // namespace

static int g_saved_stdout = -1;
static char g_capture_path[MAX_PATH];

void begin_stdout_capture()
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "cap", 0, g_capture_path);
    std::fflush(stdout);
    g_saved_stdout = _dup(1);
    int fd = _open(g_capture_path, _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(fd, 1);
    _close(fd);
}

std::string end_stdout_capture()
{
    std::fflush(stdout);
    _dup2(g_saved_stdout, 1);
    _close(g_saved_stdout);
    std::string text = read_whole_file(g_capture_path);
    DeleteFileA(g_capture_path);
    return text;
}

int count_occurrences(const std::string &text, const std::string &what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        count++;
    return count;
}

void ShortTimeouts::SetUp()
{
    saved_ = g_net_timeouts;
    g_net_timeouts = {300, 100, 300, 5, 300, 300, 8192, 30000};
}

void ShortTimeouts::TearDown()
{
    g_net_timeouts = saved_;
}
