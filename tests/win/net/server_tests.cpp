// Against the reference update server running on this host. Skipped unless
// PAVOSET_SERVER_PORT names its port (PAVOSET_SAMPLE_DIR: its sample folder, a host path).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/field_split_text.h"
#include "core/file_checksum.h"
#include "core/packet_codec.h"
#include "core/text_protocol.h"
#include "net/framed/framed_session.h"
#include "net/framed/framed_transfer.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "net_fixture.h"

namespace {

struct entry {
    std::string name;
    uint32_t crc;
    uint32_t size;
};

std::vector<entry> parse_records(const std::string &records)
{
    std::vector<entry> entries;
    for (const std::string &record : split_field_texts(records, TEXT_RECORD_SEPARATOR)) {
        std::vector<std::string> fields = split_field_texts(record, TEXT_FIELD_SEPARATOR);
        if (fields.size() >= 3 && !fields[0].empty())
            entries.push_back(
                {fields[0], static_cast<uint32_t>(std::strtoul(fields[1].c_str(), nullptr, 10)),
                 static_cast<uint32_t>(std::strtoul(fields[2].c_str(), nullptr, 10))});
    }
    return entries;
}

class AgainstServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *port = std::getenv("PAVOSET_SERVER_PORT");
        if (port == nullptr || *port == '\0')
            GTEST_SKIP() << "PAVOSET_SERVER_PORT not set";
        port_ = static_cast<u_short>(std::atoi(port));
        folder_existed_ = is_directory(INSTALL_FOLDER_TEXT);
        session_ = create_session("127.0.0.1", port_);
        ASSERT_NE(nullptr, session_);
    }
    void TearDown() override
    {
        release_session(session_);
        close_text_channel();
        if (!folder_existed_)
            RemoveDirectoryA(INSTALL_FOLDER_TEXT);  // only if the downloads made it
    }
    // The catalogue over the datagram protocol, as records text.
    std::string framed_catalogue()
    {
        framed_packet request;
        std::memset(&request, 0, sizeof request);
        init_packet(&request, nullptr, KIND_REQUEST, SUB_CATALOGUE, 0, nullptr, 0);
        int32_t value = 0;
        int length = framed_exchange(session_, &request, session_->answer_buffer,
                                     session_->buffer_size, &value);
        EXPECT_GT(length, 0);
        EXPECT_EQ(1000, value);
        if (length <= 0)
            return std::string();
        return std::string(reinterpret_cast<char *>(session_->answer_buffer),
                           static_cast<size_t>(length));
    }

    u_short port_ = 0;
    int folder_existed_ = 1;
    framed_session *session_ = nullptr;
};

TEST_F(AgainstServer, CatalogueOverBothProtocolsAgrees)
{
    std::strcpy(g_server_address.host, "127.0.0.1");
    g_server_address.port = port_;
    ASSERT_EQ(CHANNEL_OPEN, open_text_channel());
    static char answer[TEXT_RECEIVE_SIZE];
    int n = text_exchange(g_channel_socket, TEXT_REQUEST_CATALOGUE, answer, sizeof answer - 1);
    ASSERT_GT(n, TEXT_ANSWER_PREFIX_LENGTH);
    answer[n] = '\0';
    ASSERT_EQ(0, std::strncmp(answer, TEXT_ANSWER_OK, TEXT_ANSWER_PREFIX_LENGTH));
    std::vector<entry> text_entries = parse_records(answer + TEXT_ANSWER_PREFIX_LENGTH);

    std::vector<entry> framed_entries = parse_records(framed_catalogue());
    ASSERT_FALSE(text_entries.empty());
    ASSERT_EQ(text_entries.size(), framed_entries.size());
    for (size_t i = 0; i < text_entries.size(); i++) {
        EXPECT_EQ(text_entries[i].name, framed_entries[i].name);
        EXPECT_EQ(text_entries[i].crc, framed_entries[i].crc);
    }
}

TEST_F(AgainstServer, EverySampleFileArrivesIntact)
{
    std::vector<entry> entries = parse_records(framed_catalogue());
    ASSERT_FALSE(entries.empty());
    int port = request_port(session_);
    ASSERT_GT(port, 0);
    // The sample folder as Wine sees the host's file system.
    std::string sample;
    if (const char *dir = std::getenv("PAVOSET_SAMPLE_DIR")) {
        // A host path gets Wine's drive for "/"; a Windows path is taken as it is.
        sample = (dir[0] && dir[1] == ':') ? std::string(dir) : std::string("Z:") + dir;
        for (char &c : sample)
            if (c == '/')
                c = '\\';
        if (sample.back() != '\\')
            sample += '\\';
    }
    for (const entry &e : entries) {
        char target[260];
        install_path(target, e.name.c_str());
        transfer_check check = {1, e.size, 1, e.crc};
        int failure = -1;
        EXPECT_EQ(TRANSFER_INSTALLED, download_file_framed(e.name.c_str(), &session_->server, port,
                                                           1024, &check, &failure))
            << e.name << " failure " << failure;
        uint32_t installed = 0;
        EXPECT_EQ(0, file_crc32(target, &installed)) << e.name;
        EXPECT_EQ(e.crc, installed) << e.name;
        if (!sample.empty()) {
            uint32_t original = 0;
            EXPECT_EQ(0, file_crc32((sample + e.name).c_str(), &original)) << e.name;
            EXPECT_EQ(original, installed) << e.name;
        }
        DeleteFileA(target);
    }
}

}  // namespace
