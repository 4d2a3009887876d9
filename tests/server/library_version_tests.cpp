// The atomic library switch: --root as a link the publisher points at a new folder. A text
// connection keeps the version it met, a framed client's files come from the version of its
// catalogue, and a folder that cannot be published (or one removed too early) never breaks
// what is served.
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/text_protocol.h"
#include "server/library_version.h"
#include "server/probe_client.h"
#include "tests/server/test_server.h"

namespace {

struct version_fixture : ::testing::Test {
    std::string base, link;
    std::unique_ptr<running_server> server;

    void SetUp() override
    {
        if (external_test_server())
            GTEST_SKIP() << "links are made on this system's file system";
        base = make_scratch_folder();
        // Two versions whose files differ in size and content.
        make_version("v1", "one");
        make_version("v2", "two, longer");
        link = base + "/current";
        switch_to("v1");
        server = start_test_server(test_options(link));
        ASSERT_TRUE(server);
    }
    void TearDown() override
    {
        if (server)
            stop_test_server(server.get());
        if (!base.empty())
            remove_folder(base);
    }
    void make_version(const std::string &name, const std::string &content)
    {
        std::string dir = base + "/" + name;
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        write_file(dir + "/Alpha.dll", "alpha " + content);
        write_file(dir + "/Beta.xla", "beta " + content + content);
    }
    // As a publisher does it: a new link renamed over the old one.
    void switch_to(const std::string &name)
    {
        std::string next = base + "/current.new";
        ASSERT_EQ(symlink(name.c_str(), next.c_str()), 0);
        ASSERT_EQ(rename(next.c_str(), link.c_str()), 0);
    }
    std::string text_catalogue(int fd)
    {
        std::string answer;
        EXPECT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                        &answer, 3000));
        return answer;
    }
    std::string text_file(int fd, const std::string &name)
    {
        probe_download download;
        download.keep_data = true;
        EXPECT_EQ(probe_text_download(fd, name, &download, 3000), 1) << name;
        return download.data;
    }
    std::string framed_catalogue(int udp)
    {
        probe_exchange exchange;
        sockaddr_in address = probe_address("127.0.0.1", server->ports.text);
        EXPECT_TRUE(probe_datagram_exchange(udp, address, 4, 7, &exchange));
        return exchange.body;
    }
    int framed_file(const std::string &name, std::string *data)
    {
        probe_download download;
        download.keep_data = true;
        int rc = probe_framed_download("127.0.0.1", server->ports.file, name, &download, 3000);
        *data = download.data;
        return rc;
    }
};

TEST_F(version_fixture, TextConnectionKeepsTheVersionItMet)
{
    int before = probe_connect("127.0.0.1", server->ports.text, 2000);
    ASSERT_GE(before, 0);
    std::string v1 = text_catalogue(before);
    EXPECT_EQ(text_file(before, "Alpha.dll"), "alpha one");

    switch_to("v2");
    // Catalogue and files again on the same connection: still v1, nothing of v2.
    EXPECT_EQ(text_catalogue(before), v1);
    EXPECT_EQ(text_file(before, "Beta.xla"), "beta oneone");

    int after = probe_connect("127.0.0.1", server->ports.text, 2000);
    ASSERT_GE(after, 0);
    std::string v2 = text_catalogue(after);
    EXPECT_NE(v2, v1);
    EXPECT_NE(v2.find(std::to_string(std::string("alpha two, longer").size())), std::string::npos);
    EXPECT_EQ(text_file(after, "Alpha.dll"), "alpha two, longer");
    // The old connection is untouched by the new one's switch.
    EXPECT_EQ(text_file(before, "Alpha.dll"), "alpha one");
    probe_close(before);
    probe_close(after);
}

TEST_F(version_fixture, FramedFilesComeFromTheVersionOfTheirCatalogue)
{
    int udp = probe_udp_socket(2000);
    ASSERT_GE(udp, 0);
    std::string v1 = framed_catalogue(udp);
    switch_to("v2");
    std::string data;
    // Asked after the switch, but this client's catalogue was v1's.
    EXPECT_EQ(framed_file("Alpha.dll", &data), 1);
    EXPECT_EQ(data, "alpha one");
    // Its next catalogue is v2's, and so are its files from then on.
    std::string v2 = framed_catalogue(udp);
    EXPECT_NE(v2, v1);
    EXPECT_EQ(framed_file("Alpha.dll", &data), 1);
    EXPECT_EQ(data, "alpha two, longer");
    probe_close(udp);
}

TEST_F(version_fixture, UnpublishableOrRemovedFoldersLeaveAClearOutcome)
{
    // A folder the client cannot take: the link moves, the served version does not.
    std::string bad = base + "/bad";
    ASSERT_EQ(mkdir(bad.c_str(), 0755), 0);
    write_file(bad + "/CON.dll", "a device name");
    int udp = probe_udp_socket(2000);
    ASSERT_GE(udp, 0);
    std::string v1 = framed_catalogue(udp);
    switch_to("bad");
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(text_catalogue(fd), TEXT_ANSWER_OK + v1 + std::string(1, '\0'));
    EXPECT_EQ(text_file(fd, "Alpha.dll"), "alpha one");
    probe_close(fd);

    // The version a framed client was given is removed before it fetched: a refusal (which
    // the client reports), never another version's bytes or a crash.
    switch_to("v2");
    EXPECT_NE(framed_catalogue(udp), v1);  // now pinned to v2
    remove_folder(base + "/v2");
    std::string data;
    EXPECT_EQ(framed_file("Alpha.dll", &data), 0);
    // The server still answers.
    EXPECT_FALSE(framed_catalogue(udp).empty());
    probe_close(udp);
}

TEST(LibraryVersions, PinsAreBoundedAndExpireToTheCurrentVersion)
{
    std::string dir = make_sample_folder();
    library_versions versions;
    std::string error;
    ASSERT_TRUE(open_library_versions(&versions, dir, &error)) << error;
    library_version other = std::make_shared<catalogue_cache>();
    for (int i = 0; i < VERSION_PIN_MAX + 50; ++i)
        pin_version(&versions, "127.1." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                    other);
    EXPECT_LE(versions.pins.size(), static_cast<size_t>(VERSION_PIN_MAX));
    // An address without a pin gets the current version; an expired pin is forgotten.
    EXPECT_EQ(version_for_client(&versions, "127.0.0.99"), versions.current);
    versions.pins["127.1.0.1"].until = std::chrono::steady_clock::now();
    EXPECT_EQ(version_for_client(&versions, "127.1.0.1"), versions.current);
    EXPECT_EQ(versions.pins.count("127.1.0.1"), 0u);
    remove_folder(dir);
}

}  // namespace
