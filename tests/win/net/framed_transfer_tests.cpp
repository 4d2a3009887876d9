#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "core/file_checksum.h"
#include "core/framed_packet.h"
#include "framed_peer.h"
#include "net/framed/framed_transfer.h"
#include "net/framed/staged_file.h"
#include "net_fixture.h"

namespace {

const char FOLDER[] = INSTALL_FOLDER_TEXT;
const char NAME[] = "nettest.dll";

std::string target_of(const char *name)
{
    char path[260];
    install_path(path, name);
    return path;
}

int staging_files_left()
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(LIBRARY_FOLDER "pvs*.tmp", &found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do
        count++;
    while (FindNextFileA(h, &found));
    FindClose(h);
    return count;
}

std::string answer(int32_t value)
{
    std::vector<uint8_t> bytes = packet_bytes(4, 6, value);
    return std::string(bytes.begin(), bytes.end());
}

// The file service's side: accepts one connection, reads the whole request packet into
// *request and hands the connection to the script.
std::thread file_server(SOCKET listener, std::string *request, std::function<void(SOCKET)> script)
{
    return std::thread([=] {
        SOCKET c = accept_within(listener, PEER_WAIT_MS);
        if (c == INVALID_SOCKET)
            return;
        if (read_file_request(c, request))
            script(c);
        closesocket(c);
    });
}

// Waits for one "NEXT" after a piece of data; counts those that came right.
void expect_next(SOCKET c, int *count)
{
    char next[4] = {};
    if (receive_exactly(c, next, 4) == 4 && std::memcmp(next, "NEXT", 4) == 0)
        (*count)++;
}

class FramedTransfer : public ShortTimeouts {
protected:
    static void SetUpTestSuite() { folder_existed_ = is_directory(FOLDER); }
    static void TearDownTestSuite()
    {
        if (!folder_existed_)
            RemoveDirectoryA(FOLDER);  // only if this suite made it and it is empty again
    }
    void SetUp() override
    {
        ShortTimeouts::SetUp();
        ASSERT_EQ(1, ensure_directory(FOLDER));
        listener_ = tcp_listener(&port_);
        server_ = loopback(0);
        target_ = target_of(NAME);
        write_whole_file(target_, "old content");
    }
    void TearDown() override
    {
        closesocket(listener_);
        DeleteFileA(target_.c_str());
        EXPECT_EQ(0, staging_files_left());
        ShortTimeouts::TearDown();
    }
    int download(const char *name, int *failure, const transfer_check *check = nullptr)
    {
        return download_file_framed(name, &server_, port_, 1024, check, failure);
    }

    static int folder_existed_;
    SOCKET listener_;
    u_short port_;
    sockaddr_in server_;
    std::string target_;
};
int FramedTransfer::folder_existed_ = 0;

TEST_F(FramedTransfer, LockstepServerGetsOneNextPerChunk)
{
    // One chunk of at most 1024 bytes, then nothing more until its "NEXT" has come.
    const int size = 10 * 1024 + 452;
    const std::string data = make_bytes(size, 1);
    std::string request, after;
    int nexts = 0;
    std::thread server = file_server(listener_, &request, [&](SOCKET c) {
        send_all(c, answer(1000).data(), PACKET_HEADER_SIZE);
        for (int at = 0; at < size; at += 1024) {
            int piece = size - at < 1024 ? size - at : 1024;
            send_all(c, data.data() + at, piece);
            expect_next(c, &nexts);
        }
        shutdown(c, SD_SEND);
        after = receive_all(c);
    });
    int failure = -1;
    const std::string target = target_of("abc.dll");
    EXPECT_EQ(TRANSFER_INSTALLED, download("abc.dll", &failure));
    server.join();
    EXPECT_EQ(INSTALL_OK, failure);
    EXPECT_EQ(11, nexts);
    EXPECT_EQ("", after);  // exactly one per chunk
    EXPECT_TRUE(read_whole_file(target) == data);
    DeleteFileA(target.c_str());

    // A 7-byte name makes a 51-byte request: kind 4, sub-kind 6, body length 7, the name.
    ASSERT_EQ(51u, request.size());
    EXPECT_EQ(4, request[31]);
    EXPECT_EQ(6, request[32]);
    EXPECT_EQ(0, request[41]);
    EXPECT_EQ(7, request[42]);
    EXPECT_EQ("abc.dll", request.substr(PACKET_HEADER_SIZE));
}

TEST_F(FramedTransfer, StreamingServerGetsCreditForEveryByte)
{
    // Everything at once, then the close; the "NEXT"s are read afterwards.
    const int size = 300 * 1024 + 77;
    const std::string data = make_bytes(size, 1);
    std::string request, acks;
    std::thread server = file_server(listener_, &request, [&](SOCKET c) {
        std::string all = answer(1000) + data;
        send_all(c, all.data(), static_cast<int>(all.size()));
        shutdown(c, SD_SEND);
        acks = receive_all(c);
    });
    int failure = -1;
    EXPECT_EQ(TRANSFER_INSTALLED, download(NAME, &failure));
    server.join();
    EXPECT_EQ(INSTALL_OK, failure);
    EXPECT_TRUE(read_whole_file(target_) == data);
    // Nothing but whole "NEXT"s: one per started KiB of each receive, so at least one per KiB
    // of the file, and (receives being far larger than a KiB here) well under two.
    ASSERT_EQ(0u, acks.size() % 4);
    size_t nexts = acks.size() / 4;
    EXPECT_EQ(nexts, static_cast<size_t>(count_occurrences(acks, "NEXT")));
    EXPECT_GE(nexts, 301u);
    EXPECT_LT(nexts, 602u);
}

TEST_F(FramedTransfer, BytesBehindTheAnswerAreTheFilesFirstBytes)
{
    const std::string data = make_bytes(500, 3);
    std::string request;
    int nexts = 0;
    std::thread server = file_server(listener_, &request, [&](SOCKET c) {
        std::string first = answer(1000) + data.substr(0, 100);  // one send, one segment
        send_all(c, first.data(), static_cast<int>(first.size()));
        expect_next(c, &nexts);
        send_all(c, data.data() + 100, 400);
        expect_next(c, &nexts);
    });
    int failure = -1;
    EXPECT_EQ(TRANSFER_INSTALLED, download(NAME, &failure));
    server.join();
    EXPECT_EQ(2, nexts);
    EXPECT_TRUE(read_whole_file(target_) == data);
}

TEST_F(FramedTransfer, AcceptThenCloseInstallsAnEmptyFile)
{
    std::string request, after;
    std::thread server = file_server(listener_, &request, [&](SOCKET c) {
        send_all(c, answer(1000).data(), PACKET_HEADER_SIZE);
        shutdown(c, SD_SEND);
        after = receive_all(c);
    });
    int failure = -1;
    EXPECT_EQ(TRANSFER_INSTALLED, download(NAME, &failure));
    server.join();
    EXPECT_TRUE(path_exists(target_.c_str()));
    EXPECT_EQ("", read_whole_file(target_));
    EXPECT_EQ("", after);  // no "NEXT" without data
}

TEST_F(FramedTransfer, FailedTransfersKeepTheOldFile)
{
    struct scenario {
        const char *what;
        std::function<void(SOCKET)> script;
        int failure;
    };
    const scenario scenarios[] = {
        {"refused", [](SOCKET c) { send_all(c, answer(0).data(), PACKET_HEADER_SIZE); },
         INSTALL_REFUSED},
        {"closed before answering", [](SOCKET) {}, INSTALL_BROKEN},
        {"half an answer", [](SOCKET c) { send_all(c, answer(1000).data(), 20); }, INSTALL_BROKEN},
        {"answer body cut short",
         [](SOCKET c) {
             std::vector<uint8_t> a = packet_bytes(4, 6, 1000, std::string(50, 'm'));
             send_all(c, a.data(), 60);
         },
         INSTALL_BROKEN},
        {"stalled mid-file",
         [](SOCKET c) {
             std::string first = answer(1000) + make_bytes(500, 3);
             send_all(c, first.data(), static_cast<int>(first.size()));
             receive_all(c);  // never closes on its own: the client must give up
         },
         INSTALL_BROKEN},
    };
    for (const scenario &s : scenarios) {
        std::string request;
        std::thread server = file_server(listener_, &request, s.script);
        int failure = -1;
        DWORD start = GetTickCount();
        EXPECT_EQ(TRANSFER_FAILED, download(NAME, &failure)) << s.what;
        EXPECT_LT(GetTickCount() - start, 2000u) << s.what;
        server.join();
        EXPECT_EQ(s.failure, failure) << s.what;
        EXPECT_EQ("old content", read_whole_file(target_)) << s.what;
        EXPECT_EQ(0, staging_files_left()) << s.what;
    }
}

TEST_F(FramedTransfer, ChecksDecideBeforeTheTargetIsReplaced)
{
    const std::string data = make_bytes(700, 5);
    const uint32_t crc = crc32_update(0, data.data(), data.size());
    const transfer_check checks[] = {
        {1, 700, 1, crc ^ 1},  // wrong CRC
        {1, 699, 0, 0},        // more bytes than announced
        {1, 701, 0, 0},        // fewer bytes than announced
        {1, 700, 1, crc},      // right
    };
    const int results[] = {0, 0, 0, 1};
    for (int i = 0; i < 4; i++) {
        std::string request;
        std::thread server = file_server(listener_, &request, [&](SOCKET c) {
            send_all(c, answer(1000).data(), PACKET_HEADER_SIZE);
            send_all(c, data.data(), 700);
            shutdown(c, SD_SEND);
            receive_all(c);
        });
        int failure = -1;
        EXPECT_EQ(results[i], download(NAME, &failure, &checks[i])) << "check " << i;
        server.join();
        EXPECT_EQ(results[i] ? INSTALL_OK : INSTALL_DAMAGED, failure) << "check " << i;
        EXPECT_TRUE(read_whole_file(target_) == (results[i] ? data : "old content"))
            << "check " << i;
    }
}

TEST_F(FramedTransfer, NothingIsTouchedWithoutAServiceOrASafeName)
{
    int failure = -1;
    // No port from the server: nothing is attempted.
    EXPECT_EQ(TRANSFER_FAILED, download_file_framed(NAME, &server_, 0, 1024, nullptr, &failure));
    EXPECT_EQ(INSTALL_NO_CONNECTION, failure);
    EXPECT_EQ(TRANSFER_FAILED, download_file_framed(NAME, &server_, port_, 0, nullptr, &failure));
    // Nothing listening at the port.
    EXPECT_EQ(-1, download_file_framed(NAME, &server_, unused_port(), 1024, nullptr, &failure));
    EXPECT_EQ(INSTALL_NO_CONNECTION, failure);
    EXPECT_EQ("old content", read_whole_file(target_));

    const std::string unsafe[] = {"..\\evil.dll",
                                  "sub/evil.dll",
                                  "c:evil.dll",
                                  "evil\x01.dll",
                                  "..",
                                  "",
                                  std::string(241, 'n') + ".dll"};
    for (const std::string &name : unsafe) {
        EXPECT_EQ(TRANSFER_FAILED, download(name.c_str(), &failure)) << name;
        EXPECT_EQ(INSTALL_BAD_NAME, failure) << name;
    }
    EXPECT_EQ(TRANSFER_FAILED, download(nullptr, &failure));
    EXPECT_EQ(INSTALL_BAD_NAME, failure);
    // None of them reached the server.
    EXPECT_EQ(INVALID_SOCKET, accept_within(listener_, 100));
}

TEST_F(FramedTransfer, MissingInstallFolderIsCreated)
{
    DeleteFileA(target_.c_str());
    if (!RemoveDirectoryA(FOLDER))
        GTEST_SKIP() << "the install folder holds other files";
    std::string request;
    int nexts = 0;
    std::thread server = file_server(listener_, &request, [&](SOCKET c) {
        send_all(c, answer(1000).data(), PACKET_HEADER_SIZE);
        send_all(c, "0123456789", 10);
        expect_next(c, &nexts);
    });
    int failure = -1;
    EXPECT_EQ(TRANSFER_INSTALLED, download(NAME, &failure));
    server.join();
    EXPECT_EQ(1, is_directory(FOLDER));
    EXPECT_EQ("0123456789", read_whole_file(target_));
    EXPECT_EQ(1, nexts);
}

TEST(InstallFolder, PathsAndFolders)
{
    char path[260];
    install_path(path, "x.xla");
    EXPECT_STREQ(LIBRARY_FOLDER "x.xla", path);
    EXPECT_EQ(0, is_directory(nullptr));
    EXPECT_EQ(0, is_directory("c:\\no\\such\\folder"));

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string base = std::string(temp) + "pavoset_dirs_" + std::to_string(GetCurrentProcessId());
    std::string nested = base + "\\a\\b";
    EXPECT_EQ(1, ensure_directory(nested.c_str()));  // with its missing parents
    EXPECT_EQ(1, is_directory(nested.c_str()));
    EXPECT_EQ(1, ensure_directory(nested.c_str()));
    // A plain file where the folder should be is no folder.
    std::string file = base + "\\plain";
    write_whole_file(file, "x");
    EXPECT_EQ(0, is_directory(file.c_str()));
    EXPECT_EQ(0, ensure_directory(file.c_str()));
    DeleteFileA(file.c_str());
    RemoveDirectoryA(nested.c_str());
    RemoveDirectoryA((base + "\\a").c_str());
    RemoveDirectoryA(base.c_str());
}

}  // namespace
