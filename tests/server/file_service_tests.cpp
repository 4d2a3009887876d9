// The framed file service: answer alone, NEXT-paced streaming, refusals.
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

#include "core/packet_codec.h"
#include "server/library_catalogue.h"
#include "server/probe_client.h"
#include "tests/server/test_server.h"

namespace {

struct file_fixture : ::testing::Test {
    std::string dir;
    std::unique_ptr<running_server> server;
    catalogue_cache expected;

    void start(server_options options)
    {
        server = start_test_server(options);
        ASSERT_TRUE(server);
        std::string error;
        ASSERT_TRUE(open_catalogue_cache(&expected, dir, &error));
        ASSERT_TRUE(refresh_catalogue(&expected, &error));
    }
    void SetUp() override { dir = make_sample_folder(); }
    void TearDown() override
    {
        stop_test_server(server.get());
        remove_folder(dir);
    }
    static std::string request_bytes(const std::string &name)
    {
        framed_packet packet;
        init_packet(&packet, nullptr, KIND_REQUEST, SUB_FILE, 0, name.data(),
                    static_cast<uint16_t>(name.size()));
        std::string bytes(PACKET_HEADER_SIZE + name.size(), '\0');
        encode_packet(&packet, reinterpret_cast<uint8_t *>(&bytes[0]),
                      static_cast<uint16_t>(bytes.size()));
        return bytes;
    }
    // Connects to the file service and asks for name; the descriptor, or -1.
    int ask_for_file(const std::string &name)
    {
        int fd = probe_connect("127.0.0.1", server->ports.file, 2000);
        std::string request = request_bytes(name);
        if (fd >= 0 && !probe_send_all(fd, request.data(), request.size())) {
            probe_close(fd);
            return -1;
        }
        return fd;
    }
    // Sends raw bytes and returns everything until the server closes (or 3 s pass).
    std::string raw_exchange(const std::string &bytes, bool byte_by_byte = false)
    {
        int fd = probe_connect("127.0.0.1", server->ports.file, 2000);
        EXPECT_GE(fd, 0);
        for (size_t i = 0; i < bytes.size(); i += byte_by_byte ? 1 : bytes.size()) {
            probe_send_all(fd, bytes.data() + i, byte_by_byte ? 1 : bytes.size());
            if (byte_by_byte)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::string got;
        char buffer[65536];
        for (;;) {
            long n = probe_receive(fd, buffer, sizeof buffer, 3000);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<size_t>(n));
            probe_send_all(fd, "NEXT", 4);
        }
        probe_close(fd);
        return got;
    }
};

TEST_F(file_fixture, EveryFileStreamsWholeAfterAnAnswerThatComesAlone)
{
    start(test_options(dir));
    for (const library_file &file : expected.current.files) {
        probe_download download;
        download.keep_data = true;
        ASSERT_EQ(
            probe_framed_download("127.0.0.1", server->ports.file, file.wire_name, &download, 3000),
            1)
            << file.fs_name;
        EXPECT_TRUE(download.answer_alone) << file.fs_name;
        EXPECT_EQ(download.value, PACKET_ACCEPTED);
        EXPECT_EQ(static_cast<uint8_t>(download.answer[31]), KIND_REQUEST);
        EXPECT_EQ(static_cast<uint8_t>(download.answer[32]), SUB_FILE);
        EXPECT_EQ(download.received, file.size);
        EXPECT_EQ(download.crc, file.crc);
        EXPECT_EQ(download.data, read_file(dir + "/" + file.fs_name));
        EXPECT_GE(download.receives, static_cast<int>((file.size + 1023) / 1024));
    }
}

TEST_F(file_fixture, UnknownUnsafeOrMalformedRequestsGetValueZeroAndAClose)
{
    start(test_options(dir));
    std::string no_body = request_bytes("");
    std::string too_long = request_bytes(std::string(300, 'a'));
    std::string wrong_kind = request_bytes("Kickoff.xls");
    wrong_kind[32] = SUB_CATALOGUE;
    const std::string requests[] = {
        request_bytes("nothing.dll"),
        request_bytes("..\\Kickoff.xls"),
        request_bytes("../Kickoff.xls"),
        request_bytes("C:\\x"),
        request_bytes("/etc/passwd"),
        request_bytes("kickoff.xls"),
        no_body,
        too_long,
        wrong_kind,
    };
    for (const std::string &request : requests) {
        std::string got = raw_exchange(request);
        ASSERT_EQ(got.size(), static_cast<size_t>(PACKET_HEADER_SIZE));
        EXPECT_EQ(got.substr(37, 4), std::string(4, '\0'));  // value 0
    }
}

TEST_F(file_fixture, RequestArrivingInPiecesIsServed)
{
    start(test_options(dir));
    std::string got = raw_exchange(request_bytes("Kickoff.xls"), true);
    ASSERT_GE(got.size(), static_cast<size_t>(PACKET_HEADER_SIZE));
    EXPECT_EQ(got.substr(37, 4), std::string("\0\0\x03\xE8", 4));
    EXPECT_EQ(got.substr(PACKET_HEADER_SIZE), read_file(dir + "/Kickoff.xls"));
}

TEST_F(file_fixture, StreamingStaysWithinTheWindowWithoutAcknowledgements)
{
    server_options options = test_options(dir);
    options.window_kb = 16;
    options.stall_timeout_ms = 500;
    start(options);
    int fd = ask_for_file("Stickrow64.dll");
    ASSERT_GE(fd, 0);
    // Read everything but never say NEXT: the server must stop at the window and give up.
    uint64_t total = 0;
    char buffer[65536];
    for (;;) {
        long n = probe_receive(fd, buffer, sizeof buffer, 3000);
        if (n <= 0)
            break;
        total += static_cast<uint64_t>(n);
    }
    probe_close(fd);
    EXPECT_EQ(total, PACKET_HEADER_SIZE + 16u * 1024u);
}

TEST_F(file_fixture, AnUnfinishedFileEndsInAResetNeverInAnOrdinaryClose)
{
    // Clients in the field take whatever came before an ordinary close as the whole file.
    server_options options = test_options(dir);
    options.window_kb = 16;
    options.stall_timeout_ms = 300;
    start(options);
    int fd = ask_for_file("Stickrow64.dll");
    ASSERT_GE(fd, 0);
    char buffer[65536];
    long n = 0;
    int error = 0;
    while ((n = probe_receive(fd, buffer, sizeof buffer, 3000)) > 0) {}
    error = errno;
    probe_close(fd);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(error, ECONNRESET);
}

TEST_F(file_fixture, StoppingTheServerMidFileAlsoEndsInAReset)
{
    server_options options = test_options(dir);
    options.window_kb = 16;
    options.stall_timeout_ms = 10000;  // the stop, not a stall, ends this transfer
    start(options);
    int fd = ask_for_file("Stickrow64.dll");
    ASSERT_GE(fd, 0);
    // Take the answer and the first window, never say NEXT: the transfer is held mid-file.
    uint64_t total = 0;
    char buffer[65536];
    while (total < 44u + 16u * 1024u) {
        long n = probe_receive(fd, buffer, sizeof buffer, 3000);
        ASSERT_GT(n, 0);
        total += static_cast<uint64_t>(n);
    }
    stop_test_server(server.get());
    server.reset();
    // The stopping server resets the connection itself; the bound is for a loaded machine.
    long n = 0;
    while ((n = probe_receive(fd, buffer, sizeof buffer, 15000)) > 0) {}
    int error = errno;
    probe_close(fd);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(error, ECONNRESET);
}

TEST_F(file_fixture, ManyConcurrentTransfersAllCheckOut)
{
    server_options options = test_options(dir);
    options.answer_gap_ms = 300;  // thirty client threads share two cores
    start(options);
    const library_file &big = expected.current.files.back();
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 30; ++i) {
        threads.emplace_back([&] {
            probe_download download;
            if (probe_framed_download("127.0.0.1", server->ports.file, big.wire_name, &download,
                                      10000) == 1 &&
                download.crc == big.crc && download.received == big.size && download.answer_alone)
                ++good;
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 30);
}

}  // namespace
