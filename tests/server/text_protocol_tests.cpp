// The text protocol byte for byte, over one persistent connection as the program uses it.
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "core/text_protocol.h"
#include "server/library_catalogue.h"
#include "server/probe_client.h"
#include "tests/server/test_server.h"

namespace {

struct text_fixture : ::testing::Test {
    std::string dir;
    std::unique_ptr<running_server> server;
    catalogue_cache expected;

    void SetUp() override
    {
        dir = make_sample_folder();
        server_options options = test_options(dir);
        options.answer_gap_ms = 300;  // dozens of client threads share two cores in one test
        server = start_test_server(options);
        ASSERT_TRUE(server);
        std::string error;
        ASSERT_TRUE(open_catalogue_cache(&expected, dir, &error));
        ASSERT_TRUE(refresh_catalogue(&expected, &error));
    }
    void TearDown() override
    {
        stop_test_server(server.get());
        remove_folder(dir);
    }
    int connect() { return probe_connect("127.0.0.1", server->ports.text, 2000); }
    std::string catalogue_answer()
    {
        return TEXT_ANSWER_OK + expected.current.text + std::string(1, '\0');
    }
};

TEST_F(text_fixture, CatalogueThenEveryFileOnOneConnection)
{
    int fd = connect();
    ASSERT_GE(fd, 0);
    std::string answer;
    ASSERT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                    &answer, 3000));
    EXPECT_EQ(answer, catalogue_answer());

    for (const library_file &file : expected.current.files) {
        probe_download download;
        download.keep_data = true;
        ASSERT_EQ(probe_text_download(fd, file.wire_name, &download, 3000), 1) << file.fs_name;
        EXPECT_EQ(download.answer, TEXT_ANSWER_OK + file.wire_name + TEXT_RECORD_SEPARATOR +
                                       std::to_string(TEXT_RECEIVE_SIZE) + TEXT_RECORD_SEPARATOR +
                                       std::to_string(file.size) + std::string(1, '\0'));
        EXPECT_TRUE(download.answer_alone) << file.fs_name;
        EXPECT_EQ(download.received, file.size);
        EXPECT_EQ(download.crc, file.crc) << file.fs_name;
        EXPECT_EQ(download.data, read_file(dir + "/" + file.fs_name));
    }
    // Nothing extra is left on the connection: the next answer is exactly the catalogue.
    ASSERT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_RECEIVE_SIZE, &answer, 3000));
    EXPECT_EQ(answer, catalogue_answer());
    probe_close(fd);
}

// Waiting for the client's acknowledgement before the pause still gives an answer alone and
// every byte, over both file services.
TEST(answer_wait_ack, AnswersStayAloneAndFilesIntact)
{
    std::string dir = make_sample_folder();
    server_options options = test_options(dir);
    options.answer_wait_ack = true;
    options.answer_gap_ms = 20;
    std::unique_ptr<running_server> server = start_test_server(options);
    ASSERT_TRUE(server);
    catalogue_cache expected;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&expected, dir, &error));
    ASSERT_TRUE(refresh_catalogue(&expected, &error));
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    ASSERT_GE(fd, 0);
    for (const library_file &file : expected.current.files) {
        probe_download download;
        ASSERT_EQ(probe_text_download(fd, file.wire_name, &download, 3000), 1) << file.fs_name;
        EXPECT_TRUE(download.answer_alone) << file.fs_name;
        EXPECT_EQ(download.crc, file.crc) << file.fs_name;
    }
    probe_close(fd);
    stop_test_server(server.get());
    remove_folder(dir);
}

TEST_F(text_fixture, RefusalsKeepTheConnectionUsable)
{
    int fd = connect();
    ASSERT_GE(fd, 0);
    const std::string refused[] = {
        TEXT_REQUEST_FILE "..\\x",
        TEXT_REQUEST_FILE "../x",
        TEXT_REQUEST_FILE "C:\\x",
        TEXT_REQUEST_FILE "/etc/passwd",
        TEXT_REQUEST_FILE + std::string(300, 'a'),
        TEXT_REQUEST_FILE,
        TEXT_REQUEST_FILE "kickoff.xls",
        TEXT_REQUEST_FILE "Kickoff.xls ",
        "#REQ:SOMETHING",
        "#req:updatelist",
        "hello",
    };
    for (const std::string &request : refused) {
        std::string answer;
        ASSERT_TRUE(probe_text_exchange(fd, request, TEXT_RECEIVE_SIZE, &answer, 3000)) << request;
        EXPECT_EQ(answer.compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_REFUSED), 0)
            << request << " -> " << answer;
        EXPECT_EQ(answer.back(), '\0');
        EXPECT_EQ(answer.find('\0'), answer.size() - 1);
    }
    std::string answer;
    ASSERT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                    &answer, 3000));
    EXPECT_EQ(answer, catalogue_answer());
    probe_close(fd);
}

TEST_F(text_fixture, RequestsSplitAcrossSendsOrBatchedTogether)
{
    int fd = connect();
    ASSERT_GE(fd, 0);
    // Split: the server must wait for the NUL.
    ASSERT_TRUE(probe_send_all(fd, TEXT_REQUEST_CATALOGUE, 8));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char buffer[8192];
    EXPECT_EQ(probe_receive(fd, buffer, sizeof buffer, 100), -1);  // no answer to half a request
    ASSERT_TRUE(probe_send_all(fd, TEXT_REQUEST_CATALOGUE + 8, sizeof TEXT_REQUEST_CATALOGUE - 8));
    long n = probe_receive(fd, buffer, sizeof buffer, 3000);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), catalogue_answer());

    // Batched, with a stray NUL between: two answers, in order, and nothing for the NUL.
    std::string batch =
        std::string(TEXT_REQUEST_CATALOGUE "\0\0" TEXT_REQUEST_FILE "nothing\0", 39);
    ASSERT_TRUE(probe_send_all(fd, batch.data(), batch.size()));
    std::string expected_bytes =
        catalogue_answer() + TEXT_ANSWER_REFUSED "no such file" + std::string(1, '\0');
    std::string got;
    while (got.size() < expected_bytes.size()) {
        n = probe_receive(fd, buffer, sizeof buffer, 3000);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, expected_bytes);
    probe_close(fd);
}

TEST_F(text_fixture, ManyClientsAtOnceAllGetTheirFiles)
{
    const int clients = 40;
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            int fd = connect();
            if (fd < 0)
                return;
            probe_download download;
            const library_file &big = expected.current.files.back();
            if (probe_text_download(fd, big.wire_name, &download, 10000) == 1 &&
                download.crc == big.crc && download.answer_alone)
                ++good;
            probe_close(fd);
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), clients);
}

}  // namespace
