// Catalogue retrieval over both protocols, its record limits, the protocol preference, and
// building catalogue entries from the records.
#include <gtest/gtest.h>
#include <cstring>
#include "app/retrieval.h"
#include "catalogue/catalogue.h"
#include "catalogue/manifest_fetch.h"
#include "core/field_split.h"
#include "core/manifest.h"
#include "framed_peer.h"
#include "core/text_protocol.h"
#include "net/framed/framed_session.h"
#include "net/server_address.h"
#include "net/text/text_channel.h"
#include "settings/registry_store.h"
#include "test_support.h"

namespace {

std::string records(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i)
            text += TEXT_RECORD_SEPARATOR;
        text += "file" + std::to_string(i) + ".dll^|" + std::to_string(1000 + i) + "^|10^|5^|6";
    }
    return text;
}

// Answers each "#REQ:UPDATELIST" with the next of the given answers, sent exactly as given.
std::function<void(SOCKET, text_peer *)> answers_in_turn(std::vector<std::string> answers)
{
    return [answers](SOCKET s, text_peer *) {
        std::string request;
        size_t next = 0;
        while (next < answers.size() && read_request(s, &request))
            send_all(s, answers[next].data(), answers[next].size()), ++next;
        // Keep the connection until the client closes it.
        while (read_request(s, &request)) {}
    };
}

std::string is_plimo()
{
    std::string bytes;
    DWORD type = 0;
    if (!raw_setting("IsPlimo", &bytes, &type))
        return "<absent>";
    return bytes;
}

struct TextRetrieval : testing::Test {
    text_peer peer;
    void connect(std::vector<std::string> answers)
    {
        delete_settings_tree();
        start_text_peer(&peer, answers_in_turn(answers));
        point_client_at(peer.port);
        ASSERT_EQ(open_text_channel(), CHANNEL_OPEN);
    }
    void TearDown() override
    {
        close_text_channel();
        stop_text_peer(&peer);
        release_catalogue();
        g_protocol_preference = PROTOCOL_TEXT;
    }
};

TEST_F(TextRetrieval, OneRecordSucceedsAndRecordsTheTextProtocol)
{
    connect({TEXT_ANSWER_OK + records(1)});
    g_protocol_preference = PROTOCOL_FRAMED;
    field_list list;
    ASSERT_EQ(fetch_catalogue_text(&list), 1);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(g_protocol_preference, PROTOCOL_TEXT);
    EXPECT_EQ(is_plimo(), std::string("1\0", 2));

    build_catalogue(&list);
    ASSERT_EQ(g_catalogue_count, 1);
    EXPECT_STREQ(g_catalogue[0].name, "file0.dll");
    EXPECT_STREQ(g_catalogue[0].crc, "1000");
    EXPECT_STREQ(g_catalogue[0].size, "10");
    EXPECT_STREQ(g_catalogue[0].time_low, "5");
    EXPECT_STREQ(g_catalogue[0].time_high, "6");
}

TEST_F(TextRetrieval, AnswersOutsideTheLimitsFailWithoutTouchingThePreference)
{
    connect({std::string(TEXT_ANSWER_OK "\0", 10), TEXT_ANSWER_OK + records(16),
             TEXT_ANSWER_REFUSED "busy", "#EXL:OK:" + records(2), TEXT_ANSWER_OK + records(15)});
    g_protocol_preference = PROTOCOL_FRAMED;
    field_list list;
    EXPECT_EQ(fetch_catalogue_text(&list), 0) << "no record";
    EXPECT_EQ(fetch_catalogue_text(&list), 0) << "16 records";
    EXPECT_EQ(fetch_catalogue_text(&list), 0) << "error answer";
    EXPECT_EQ(fetch_catalogue_text(&list), 0) << "prefix without its blank";
    EXPECT_EQ(g_protocol_preference, PROTOCOL_FRAMED);
    EXPECT_EQ(is_plimo(), "<absent>");
    EXPECT_EQ(fetch_catalogue_text(&list), 1) << "15 records";
    EXPECT_EQ(list.count, 15);
}

TEST_F(TextRetrieval, AShorterAnswerReadsOnlyItsOwnBytes)
{
    std::string longer = TEXT_ANSWER_OK + records(3);
    std::string shorter = TEXT_ANSWER_OK "x.dll^|1^|2^|3^|4";  // no terminator of its own
    connect({longer, shorter});
    field_list list;
    ASSERT_EQ(fetch_catalogue_text(&list), 1);
    EXPECT_EQ(list.count, 3);
    Sleep(50);
    ASSERT_EQ(fetch_catalogue_text(&list), 1);
    ASSERT_EQ(list.count, 1);
    build_catalogue(&list);
    ASSERT_EQ(g_catalogue_count, 1);
    EXPECT_STREQ(g_catalogue[0].time_high, "4");
}

// The stored preference is read as a number and anything but 0 meant text first; 2 (the web's
// number among the protocols) must not come to mean anything else.
TEST_F(TextRetrieval, AStoredPreferenceOtherThanZeroTriesTextFirst)
{
    delete_settings_tree();
    start_text_peer(&peer, answers_in_turn({"#EXL: OK:" + records(2)}));
    point_client_at(peer.port);
    write_setting(SETTING_PROTOCOL, "2");
    g_protocol_preference = PROTOCOL_FRAMED;
    retrieval_result result;
    retrieve_catalogue(&result, nullptr, nullptr, nullptr);
    EXPECT_EQ(result.ok, 1);
    EXPECT_EQ(result.first_protocol, PROTOCOL_TEXT);
    EXPECT_EQ(result.used_protocol, PROTOCOL_TEXT);
    EXPECT_EQ(result.fell_back, 0);
    EXPECT_EQ(g_protocol_preference, PROTOCOL_TEXT);
    EXPECT_EQ(is_plimo(), std::string("1\0", 2));
    release_retrieval_state(0);
}

TEST_F(TextRetrieval, ASilentServerFails)
{
    connect({});
    field_list list;
    EXPECT_EQ(fetch_catalogue_text(&list), 0);
}

struct FramedRetrieval : testing::Test {
    framed_peer peer;
    void start(const std::string &body)
    {
        delete_settings_tree();
        peer.catalogue_body = body;
        start_framed_peer(&peer);
        point_client_at(peer.datagram_port);
    }
    void TearDown() override
    {
        stop_framed_peer(&peer);
        release_catalogue();
        g_protocol_preference = PROTOCOL_TEXT;
    }
};

TEST_F(FramedRetrieval, ASingleRecordIsBelowTheLimitButARecordAndSeparatorIsTwo)
{
    start(records(1));
    field_list list;
    EXPECT_EQ(fetch_catalogue_framed(&list), 0);
    EXPECT_EQ(g_protocol_preference, PROTOCOL_TEXT);
    EXPECT_EQ(is_plimo(), "<absent>");

    peer.catalogue_body = records(1) + TEXT_RECORD_SEPARATOR;
    ASSERT_EQ(fetch_catalogue_framed(&list), 1);
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(g_protocol_preference, PROTOCOL_FRAMED);
    EXPECT_EQ(is_plimo(), std::string("0\0", 2));
    // The empty record after the final separator gives no entry (and no row).
    build_catalogue(&list);
    ASSERT_EQ(g_catalogue_count, 1);
    EXPECT_STREQ(g_catalogue[0].name, "file0.dll");
    EXPECT_NE(g_framed_session, nullptr);
}

TEST_F(FramedRetrieval, RefusalsWrongValuesAndTooManyRecordsFail)
{
    start(records(16));
    field_list list;
    EXPECT_EQ(fetch_catalogue_framed(&list), 0) << "16 records";
    peer.catalogue_body = records(3);
    peer.catalogue_value = 999;
    EXPECT_EQ(fetch_catalogue_framed(&list), 0) << "value 999";
    peer.refuse_catalogue = true;
    EXPECT_EQ(fetch_catalogue_framed(&list), 0) << "refusal";
    EXPECT_EQ(g_protocol_preference, PROTOCOL_TEXT);
    EXPECT_EQ(is_plimo(), "<absent>");
    peer.refuse_catalogue = false;
    peer.catalogue_value = 1000;
    EXPECT_EQ(fetch_catalogue_framed(&list), 1);
    EXPECT_EQ(list.count, 3);
}

// The publisher's manifest is read under the same bound as every file: a server trickling it
// is abandoned with that reason, over either protocol.
TEST(ManifestFetch, ATricklingServerIsAbandonedWithItsReasonOverEitherProtocol)
{
    rate_bound_for_test bound(1000, 1000);
    std::string manifest(2000, 'm');
    char *text = nullptr;
    int length = 0;
    {
        text_peer peer;
        start_text_peer(
            &peer, text_file_server("", {{MANIFEST_FILE_NAME, manifest, text_file_rule::TRICKLE}}));
        point_client_at(peer.port);
        ASSERT_EQ(open_text_channel(), CHANNEL_OPEN);
        EXPECT_EQ(fetch_manifest_text(&text, &length), MANIFEST_TOO_SLOW);
        EXPECT_EQ(text, nullptr);
        close_text_channel();
        stop_text_peer(&peer);
    }
    {
        framed_peer peer;
        peer.rules = {{MANIFEST_FILE_NAME, manifest, framed_file_rule::TRICKLE}};
        start_framed_peer(&peer);
        framed_session *session = create_session("127.0.0.1", peer.datagram_port);
        EXPECT_EQ(fetch_manifest_framed(session, &text, &length), MANIFEST_TOO_SLOW);
        EXPECT_EQ(text, nullptr);
        release_session(session);
        stop_framed_peer(&peer);
    }
}

TEST(BuildCatalogue, ShortRecordsLongRecordsAndCopiesOfTheirOwn)
{
    std::string text = "a.dll^|1~|b.dll^|2^|3^|4^|5^|extra^|more~|~|c.xla^|7^|8^|9^|10";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    field_list list;
    split_records(&list, buffer.data());
    build_catalogue(&list);
    memset(buffer.data(), 'Z', buffer.size() - 1);  // entries must not point into the answer

    ASSERT_EQ(g_catalogue_count, 3);
    EXPECT_STREQ(g_catalogue[0].name, "a.dll");
    EXPECT_STREQ(g_catalogue[0].crc, "1");
    EXPECT_EQ(g_catalogue[0].size, nullptr);
    EXPECT_EQ(g_catalogue[0].time_high, nullptr);
    EXPECT_STREQ(g_catalogue[1].time_high, "5");
    EXPECT_STREQ(g_catalogue[2].name, "c.xla");
    EXPECT_STREQ(g_catalogue[2].time_high, "10");

    int first = -1, second = -1;
    EXPECT_EQ(catalogue_duplicate(&first, &second), 0);

    build_catalogue(nullptr);  // a rebuild releases the old entries
    EXPECT_EQ(g_catalogue_count, 0);
    EXPECT_EQ(g_catalogue, nullptr);
}

// Names Windows takes for one file, in any letters it folds: the catalogue is not acted on.
TEST(BuildCatalogue, TwoNamesOfOneFileAreADuplicate)
{
    const char *pairs[][2] = {{"Kickoff.XLS", "kickoff.xls"},
                              {"\xA3\xE1.dll", "\xA3\xC1.dll"},   // full-width a and A
                              {"\xA5\xE1.dll", "\xA5\xC1.dll"},   // Greek alpha and Alpha
                              {"\xAC\xD1.dll", "\xAC\xA1.dll"}};  // Cyrillic a and A
    for (const auto &pair : pairs) {
        std::string text = std::string("x.dll^|1~|") + pair[0] + "^|2~|" + pair[1] + "^|3";
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back(0);
        field_list list;
        split_records(&list, buffer.data());
        build_catalogue(&list);
        int first = -1, second = -1;
        EXPECT_EQ(catalogue_duplicate(&first, &second), 1) << pair[0];
        EXPECT_EQ(first, 1);
        EXPECT_EQ(second, 2);
    }
    release_catalogue();
}

}  // namespace
