// Hostile and unlucky clients, a library that changes under the server, and shutdown.
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "core/packet_codec.h"
#include "core/text_protocol.h"
#include "server/library_catalogue.h"
#include "server/probe_client.h"
#include "tests/server/test_server.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct robust_fixture : ::testing::Test {
    std::string dir;
    std::unique_ptr<running_server> server;
    void SetUp() override { dir = make_sample_folder(); }
    void TearDown() override
    {
        stop_test_server(server.get());
        remove_folder(dir);
    }
    std::string catalogue_over_text()
    {
        int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
        std::string answer;
        EXPECT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                        &answer, 3000));
        probe_close(fd);
        return answer;
    }
};

// Waits for the server to hang up; the seconds it took, or -1 when it did not within limit.
static double seconds_until_closed(int fd, int limit_ms)
{
    auto start = clock_type::now();
    char buffer[65536];
    for (;;) {
        long n = probe_receive(fd, buffer, sizeof buffer, limit_ms);
        if (n == 0 ||
            (n < 0 &&
             std::chrono::duration<double>(clock_type::now() - start).count() * 1000 < limit_ms))
            return std::chrono::duration<double>(clock_type::now() - start).count();
        if (n < 0)
            return -1;
    }
}

TEST_F(robust_fixture, SilentAndHalfSpokenClientsAreClosedAfterTheRequestTimeout)
{
    server_options options = test_options(dir);
    options.request_timeout_ms = 300;
    options.idle_timeout_ms = 600;
    server = start_test_server(options);
    ASSERT_TRUE(server);
    int silent_text = probe_connect("127.0.0.1", server->ports.text, 2000);
    int half_text = probe_connect("127.0.0.1", server->ports.text, 2000);
    int silent_file = probe_connect("127.0.0.1", server->ports.file, 2000);
    int half_file = probe_connect("127.0.0.1", server->ports.file, 2000);
    probe_send_all(half_text, TEXT_REQUEST_CATALOGUE, 9);
    probe_send_all(half_file, "\xA0\x00\x00", 3);
    for (int fd : {silent_text, half_text, silent_file, half_file}) {
        double s = seconds_until_closed(fd, 3000);
        EXPECT_GE(s, 0.0);
        EXPECT_LT(s, 2.0);
        probe_close(fd);
    }
    // A client that asked once may rest longer, but not for ever.
    int idle = probe_connect("127.0.0.1", server->ports.text, 2000);
    std::string answer;
    ASSERT_TRUE(probe_text_exchange(idle, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                    &answer, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(probe_text_exchange(idle, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                    &answer,
                                    3000));  // past 300 ms: still open
    double s = seconds_until_closed(idle, 3000);
    EXPECT_GT(s, 0.4);
    EXPECT_LT(s, 2.0);
    probe_close(idle);
}

TEST_F(robust_fixture, OverlongRequestGetsAnErrorAndAClose)
{
    server = start_test_server(test_options(dir));
    ASSERT_TRUE(server);
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    std::string flood(100000, 'A');
    probe_send_all(fd, flood.data(), flood.size());
    char buffer[256];
    long n = probe_receive(fd, buffer, sizeof buffer, 3000);
    ASSERT_GT(n, TEXT_ANSWER_PREFIX_LENGTH);
    EXPECT_EQ(std::string(buffer, TEXT_ANSWER_PREFIX_LENGTH), TEXT_ANSWER_REFUSED);
    EXPECT_GE(seconds_until_closed(fd, 3000), 0.0);
    probe_close(fd);
    EXPECT_EQ(catalogue_over_text().compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_OK), 0);
}

TEST_F(robust_fixture, ConnectionCapTurnsAwayExtraClientsUntilOneLeaves)
{
    server_options options = test_options(dir);
    options.max_connections = 3;
    server = start_test_server(options);
    ASSERT_TRUE(server);
    int held[3];
    std::string answer;
    for (int &fd : held) {
        fd = probe_connect("127.0.0.1", server->ports.text, 2000);
        ASSERT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                        &answer, 3000));
    }
    int extra = probe_connect("127.0.0.1", server->ports.text, 2000);
    char buffer[256];
    long n = probe_receive(extra, buffer, sizeof buffer, 3000);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)),
              std::string(TEXT_ANSWER_REFUSED "server busy\0", 21));
    probe_close(extra);
    probe_download refused;
    EXPECT_NE(probe_framed_download("127.0.0.1", server->ports.file, "Kickoff.xls", &refused, 2000),
              1);

    probe_close(held[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    probe_download download;
    EXPECT_EQ(
        probe_framed_download("127.0.0.1", server->ports.file, "Kickoff.xls", &download, 3000), 1);
    probe_close(held[1]);
    probe_close(held[2]);
}

// Both services count against one cap; a place taken by a connection closed for silence comes
// back, and the file service turns clients away with a close and no answer packet.
TEST_F(robust_fixture, TimedOutConnectionsGiveTheirPlaceBack)
{
    server_options options = test_options(dir);
    options.max_connections = 2;
    options.request_timeout_ms = 400;
    server = start_test_server(options);
    ASSERT_TRUE(server);
    // The cap taken by one silent client of each service.
    int silent[] = {probe_connect("127.0.0.1", server->ports.text, 2000),
                    probe_connect("127.0.0.1", server->ports.file, 2000)};
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    int extra_file = probe_connect("127.0.0.1", server->ports.file, 2000);
    char buffer[256];
    EXPECT_EQ(probe_receive(extra_file, buffer, sizeof buffer, 3000), 0);
    probe_close(extra_file);
    int extra_text = probe_connect("127.0.0.1", server->ports.text, 2000);
    long n = probe_receive(extra_text, buffer, sizeof buffer, 3000);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)),
              std::string("#EXL:ERR:server busy\0", 21));
    probe_close(extra_text);

    for (int fd : silent) {
        EXPECT_GE(seconds_until_closed(fd, 3000), 0.0);
        probe_close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(catalogue_over_text().compare(0, 9, "#EXL: OK:"), 0);
    probe_download download;
    EXPECT_EQ(
        probe_framed_download("127.0.0.1", server->ports.file, "Kickoff.xls", &download, 3000), 1);
}

TEST_F(robust_fixture, SlowReaderIsDroppedWhileOthersAreServed)
{
    // Larger than any socket buffers, so the server really has to wait for the reader.
    write_file(dir + "/Huge.dll", std::string(48u << 20, 'h'));
    server_options options = test_options(dir);
    options.stall_timeout_ms = 500;
    server = start_test_server(options);
    ASSERT_TRUE(server);
    int slow = probe_connect("127.0.0.1", server->ports.text, 2000);
    int small_buffer = 4096;
    setsockopt(slow, SOL_SOCKET, SO_RCVBUF, &small_buffer, sizeof small_buffer);
    probe_send_all(slow, TEXT_REQUEST_FILE "Huge.dll\0", 22);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Meanwhile another client is served in full.
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    probe_download download;
    EXPECT_EQ(probe_text_download(fd, "PlimoExcel.xla", &download, 3000), 1);
    probe_close(fd);
    // The slow one never reads: after the stall time-out the server lets go of it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    if (!external_test_server()) {  // only an in-process server can be looked into
        int open_now = -1;
        asio::post(server->io,
                   [&] { open_now = server_state(server->server.get())->open_connections; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(open_now, 0);
    }
    probe_close(slow);
}

TEST_F(robust_fixture, ClientsHangingUpMidFileDoNotDisturbTheServer)
{
    server = start_test_server(test_options(dir));
    ASSERT_TRUE(server);
    char buffer[4096];
    for (int round = 0; round < 3; ++round) {
        int text = probe_connect("127.0.0.1", server->ports.text, 2000);
        probe_send_all(text, TEXT_REQUEST_FILE "Stickrow64.dll\0", 28);
        probe_receive(text, buffer, sizeof buffer, 2000);
        probe_receive(text, buffer, sizeof buffer, 2000);
        probe_close(text);  // unread data: the server sees a reset

        int file = probe_connect("127.0.0.1", server->ports.file, 2000);
        framed_packet packet;
        init_packet(&packet, nullptr, KIND_REQUEST, SUB_FILE, 0, "Stickrow64.dll", 14);
        uint8_t request[PACKET_HEADER_SIZE + 14];
        encode_packet(&packet, request, sizeof request);
        probe_send_all(file, request, sizeof request);
        probe_receive(file, buffer, sizeof buffer, 2000);
        probe_receive(file, buffer, sizeof buffer, 2000);
        probe_close(file);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    probe_download download;
    EXPECT_EQ(probe_text_download(fd, "Stickrow64.dll", &download, 3000), 1);
    probe_close(fd);
    probe_download framed;
    EXPECT_EQ(
        probe_framed_download("127.0.0.1", server->ports.file, "Stickrow64.dll", &framed, 3000), 1);
    EXPECT_EQ(framed.crc, download.crc);
}

TEST_F(robust_fixture, LibraryChangesArePickedUpWithoutRestart)
{
    server = start_test_server(test_options(dir));
    ASSERT_TRUE(server);
    std::string before = catalogue_over_text();
    write_file(dir + "/Kickoff.xls", "new contents", 1750000000);
    write_file(dir + "/Added.dll", "added");
    unlink((dir + "/PlimoHelp.xls").c_str());
    std::string after = catalogue_over_text();
    catalogue_cache expected;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&expected, dir, &error));
    ASSERT_TRUE(refresh_catalogue(&expected, &error));
    EXPECT_NE(before, after);
    EXPECT_EQ(after, TEXT_ANSWER_OK + expected.current.text + std::string(1, '\0'));
    EXPECT_NE(after.find("Added.dll^|"), std::string::npos);
    EXPECT_EQ(after.find("PlimoHelp.xls"), std::string::npos);

    int udp = probe_udp_socket(2000);
    probe_exchange framed;
    ASSERT_TRUE(probe_datagram_exchange(udp, probe_address("127.0.0.1", server->ports.text), 4, 7,
                                        &framed));
    EXPECT_EQ(framed.body, expected.current.text);
    probe_close(udp);

    // A file the client cannot take: logged, and the last good catalogue is served.
    write_file(dir + "/bad:name.dll", "x");
    EXPECT_EQ(catalogue_over_text(), after);
}

TEST_F(robust_fixture, FileSwappedForALinkOutsideTheRootIsNotServed)
{
    std::string outside = make_scratch_folder();
    write_file(outside + "/secret.txt", "secret");
    server = start_test_server(test_options(dir));
    ASSERT_TRUE(server);
    ASSERT_EQ(catalogue_over_text().compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_OK), 0);
    // Swapped after the scan, before the request: the stale entry must not lead outside.
    unlink((dir + "/Kickoff.xls").c_str());
    ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), (dir + "/Kickoff.xls").c_str()), 0);
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    std::string answer;
    ASSERT_TRUE(
        probe_text_exchange(fd, TEXT_REQUEST_FILE "Kickoff.xls", TEXT_RECEIVE_SIZE, &answer, 3000));
    EXPECT_EQ(answer.compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_REFUSED), 0) << answer;
    probe_close(fd);
    probe_download download;
    EXPECT_EQ(
        probe_framed_download("127.0.0.1", server->ports.file, "Kickoff.xls", &download, 3000), 0);
    remove_folder(outside);
}

TEST_F(robust_fixture, StopClosesEveryConnection)
{
    server = start_test_server(test_options(dir));
    ASSERT_TRUE(server);
    int text = probe_connect("127.0.0.1", server->ports.text, 2000);
    std::string answer;
    ASSERT_TRUE(probe_text_exchange(text, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                    &answer, 3000));
    int file = probe_connect("127.0.0.1", server->ports.file, 2000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int port = server->ports.text;
    stop_test_server(server.get());
    server.reset();
    EXPECT_GE(seconds_until_closed(text, 2000), 0.0);
    EXPECT_GE(seconds_until_closed(file, 2000), 0.0);
    probe_close(text);
    probe_close(file);
    EXPECT_LT(probe_connect("127.0.0.1", port, 500), 0);  // no longer listening
}

}  // namespace
