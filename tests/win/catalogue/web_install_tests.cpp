// The library from a web server: where its address comes from, the catalogue and the install
// pass against the scripted web peer on 127.0.0.1, the refusals that fetch nothing, and a
// signed library whose manifest comes over the web too.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include "app/retrieval.h"
#include "app/web_retrieval.h"
#include "catalogue/catalogue.h"
#include "catalogue/install_report.h"
#include "catalogue/list_rows.h"
#include "catalogue/manifest_check.h"
#include "catalogue/web_install.h"
#include "catalogue/web_library.h"
#include "core/manifest.h"
#include "core/static_layout.h"
#include "core/text_protocol.h"
#include "net/framed/staged_file.h"
#include "res/texts.h"
#include "settings/library_url.h"
#include "test_support.h"
#include "web_peer.h"

namespace {

// The web path of an ASCII name, as the static layout gives it.
std::string web_path(const std::string &name, const std::string &bytes)
{
    char path[1024];
    static_file_path(name.c_str(), crc_of(bytes), bytes.size(), path, sizeof path);
    return std::string("/lib/") + path;
}

struct WebInstall : testing::Test {
    test_window window = {};
    text_peer peer;
    text_peer old_server;  // the socket protocols' server, which must never be asked
    install_report report = {};
    saved_setting key{SETTING_PUBLISHER_KEY}, url{SETTING_LIBRARY_URL};

    void SetUp() override
    {
        reset_install_folder();
        window = create_test_window();
        remove_setting(SETTING_LIBRARY_URL);
        // Any configured key lets plain http through; these tests leave the signature unsettled.
        put_setting(SETTING_PUBLISHER_KEY, std::string(86, 'A') + "==");
        start_text_peer(&old_server, text_file_server(TEXT_ANSWER_OK "x.dll^|1^|1", {}));
        point_client_at(old_server.port);
        if (!g_receive_buffer)
            g_receive_buffer = (char *)calloc(RECEIVE_BUFFER_SIZE, 1);
    }
    void TearDown() override
    {
        close_web_library();
        set_web_library(nullptr);
        // No verdict of this test's manifest may reach the next test's install.
        remove_setting(SETTING_PUBLISHER_KEY);
        check_library_signature(nullptr);
        stop_text_peer(&peer);
        stop_text_peer(&old_server);
        EXPECT_EQ(0, old_server.accepted) << "the socket protocols were tried";
        destroy_test_window(&window);
        release_catalogue();
        reset_install_folder();
    }
    // Serves rules and takes the peer's address as the library's (as "-url" would).
    void serve(std::vector<web_rule> rules)
    {
        peer.requests.clear();
        start_text_peer(&peer, web_server(std::move(rules)));
        library_url address = {};
        address.source = URL_FROM_OPTION;
        snprintf(address.url, sizeof address.url, "http://127.0.0.1:%u/lib/", peer.port);
        set_web_library(&address);
    }
    // The stand-in key only lets plain http through: the retrieval settles the signature, and
    // with no manifest served every file would be refused as unverified. Unless the library is
    // signed, the key goes once the catalogue has come, and the install pass checks no signature.
    retrieval_result retrieve(bool signed_library = false)
    {
        retrieval_result result;
        retrieve_catalogue(&result, nullptr, nullptr, nullptr);
        if (result.ok)
            fill_rows(window);
        if (result.ok && !signed_library) {
            remove_setting(SETTING_PUBLISHER_KEY);
            check_library_signature(nullptr);
        }
        return result;
    }
    int install()
    {
        int installed = -1;
        run_pass([&]() { installed = install_over_web(window.main, window.list, &report); });
        return installed;
    }
    std::vector<std::string> paths()
    {
        std::lock_guard<std::mutex> hold(peer.lock);
        std::vector<std::string> out;
        for (auto &head : peer.requests) {
            size_t start = head.find(' ') + 1;
            out.push_back(head.substr(start, head.find(' ', start) - start));
        }
        return out;
    }
};

const std::string A = make_bytes(5000, 1), B = make_bytes(70000, 2), C = "";
// "한글.xls": code page 949 here, its UTF-8 bytes percent-encoded on the server.
const std::string KOREAN = "한글.xls";
const std::string KOREAN_PATH = "/lib/files/" + [] {
    char crc[16];
    snprintf(crc, sizeof crc, "%08x", crc_of(A));
    return std::string(crc);
}() + "-5000/%ED%95%9C%EA%B8%80.xls";

TEST_F(WebInstall, CatalogueAndEveryFileComeFromTheStaticLayout)
{
    serve({{"/lib/" STATIC_CATALOGUE_NAME,
            record_for("a.dll", A) + TEXT_RECORD_SEPARATOR + record_for(KOREAN, A) +
                TEXT_RECORD_SEPARATOR + record_for("b.xla", B) + TEXT_RECORD_SEPARATOR +
                record_for("empty.txt", C),
            web_rule::SERVE},
           {web_path("a.dll", A), A, web_rule::SERVE},
           {KOREAN_PATH, A, web_rule::SERVE},
           {web_path("b.xla", B), B, web_rule::NO_LENGTH},
           {web_path("empty.txt", C), C, web_rule::SERVE}});
    retrieval_result result = retrieve();
    ASSERT_TRUE(result.ok) << web_retrieval_line();
    EXPECT_EQ(4, result.entries);
    EXPECT_NE(std::string(web_retrieval_line()).find(g_web_library.address.url), std::string::npos);
    EXPECT_EQ(4, install());
    EXPECT_EQ(0, report.failed);
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER "a.dll") == A);
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER + KOREAN) == A);
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER "b.xla") == B);
    EXPECT_TRUE(path_exists(LIBRARY_FOLDER "empty.txt"));
    EXPECT_TRUE(path_exists(LIBRARY_FOLDER "EXCELLIBINFO.DAT"));
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(TEXT_STATUS_MATCH, cell(window, row, COLUMN_STATUS)) << row;
    auto asked = paths();
    EXPECT_EQ(1, std::count(asked.begin(), asked.end(), KOREAN_PATH));
    for (auto &[name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"a.dll", A}, {"b.xla", B}, {"empty.txt", C}})
        EXPECT_EQ(1, std::count(asked.begin(), asked.end(), web_path(name, bytes))) << name;
}

TEST_F(WebInstall, ALongKoreanNameTriplesInItsPathAndStillInstalls)
{
    std::string name, encoded;
    for (int i = 0; i < 118; ++i) {  // 240 bytes with ".dll": the longest name there is
        name += "가";
        encoded += "%EA%B0%80";
    }
    name += ".dll";
    char crc[16];
    snprintf(crc, sizeof crc, "%08x", crc_of(A));
    serve({{"/lib/" STATIC_CATALOGUE_NAME, record_for(name, A), web_rule::SERVE},
           {"/lib/files/" + std::string(crc) + "-5000/" + encoded + ".dll", A, web_rule::SERVE}});
    ASSERT_TRUE(retrieve().ok) << web_retrieval_line();
    EXPECT_EQ(1, install());
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER + name) == A);
}

TEST_F(WebInstall, AFailedFileLeavesTheOldOneAndNothingHalfWritten)
{
    std::string forged = A;
    forged[100] ^= 1;  // the catalogue's size, another CRC-32
    serve({{"/lib/" STATIC_CATALOGUE_NAME,
            record_for("gone.dll", A) + TEXT_RECORD_SEPARATOR + record_for("cut.dll", B) +
                TEXT_RECORD_SEPARATOR + record_for("forged.dll", A) + TEXT_RECORD_SEPARATOR +
                record_for("..\\evil.dll", A),
            web_rule::SERVE},
           {web_path("cut.dll", B), B, web_rule::SHORT_BODY},
           {web_path("forged.dll", A), forged, web_rule::SERVE}});
    for (const char *name : {"gone.dll", "cut.dll", "forged.dll"})
        ASSERT_TRUE(write_whole_file(LIBRARY_FOLDER + std::string(name), "old"));
    ASSERT_TRUE(retrieve().ok) << web_retrieval_line();
    EXPECT_EQ(0, install());
    ASSERT_EQ(4, report.failed);
    EXPECT_EQ(INSTALL_REFUSED, report.failed_reasons[0]);  // 404
    EXPECT_TRUE(report.failed_reasons[1] == INSTALL_DAMAGED ||
                report.failed_reasons[1] == INSTALL_BROKEN);
    EXPECT_EQ(INSTALL_DAMAGED, report.failed_reasons[2]);
    EXPECT_EQ(INSTALL_BAD_NAME, report.failed_reasons[3]);
    auto names = install_folder_names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"EXCELLIBINFO.DAT", "cut.dll", "forged.dll", "gone.dll"}),
              names);
    for (const char *name : {"gone.dll", "cut.dll", "forged.dll"})
        EXPECT_EQ("old", read_whole_file(LIBRARY_FOLDER + std::string(name)));
    for (auto &path : paths())
        EXPECT_EQ(std::string::npos, path.find("evil")) << path;
}

// The pass keeps two files under way at once: a slow file, a failure and a resumed file among
// quick ones still end in the rows' order, each with its own outcome and bytes.
TEST_F(WebInstall, FilesUnderWayTogetherEndInRowOrderEachWithItsOwnOutcome)
{
    const std::string big = make_bytes(300000, 3), other = make_bytes(290000, 4);
    const std::string slow = make_bytes(160, 5), small = make_bytes(7000, 6);
    serve({{"/lib/" STATIC_CATALOGUE_NAME,
            record_for("slow.dll", slow) + TEXT_RECORD_SEPARATOR + record_for("big.xla", big) +
                TEXT_RECORD_SEPARATOR + record_for("missing.dll", small) + TEXT_RECORD_SEPARATOR +
                record_for("dropped.dll", other) + TEXT_RECORD_SEPARATOR +
                record_for("bad\\name.dll", small) + TEXT_RECORD_SEPARATOR +
                record_for("small.xls", small),
            web_rule::SERVE},
           {web_path("slow.dll", slow), slow, web_rule::TRICKLE},
           {web_path("big.xla", big), big, web_rule::SERVE},
           {web_path("dropped.dll", other), other, web_rule::DROP_ONCE},
           {web_path("small.xls", small), small, web_rule::SERVE}});
    ASSERT_TRUE(write_whole_file(LIBRARY_FOLDER "missing.dll", "old"));
    ASSERT_TRUE(retrieve().ok) << web_retrieval_line();
    EXPECT_EQ(4, install());
    ASSERT_EQ(2, report.failed);
    EXPECT_EQ(INSTALL_REFUSED, report.failed_reasons[0]) << report.failed_names[0];  // 404
    EXPECT_EQ(INSTALL_BAD_NAME, report.failed_reasons[1]) << report.failed_names[1];
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER "slow.dll") == slow);
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER "big.xla") == big);
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER "dropped.dll") == other);
    EXPECT_TRUE(read_whole_file(LIBRARY_FOLDER "small.xls") == small);
    EXPECT_EQ("old", read_whole_file(LIBRARY_FOLDER "missing.dll"));
    for (int row : {0, 1, 3, 5})
        EXPECT_EQ(TEXT_STATUS_MATCH, cell(window, row, COLUMN_STATUS)) << row;
    auto names = install_folder_names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"EXCELLIBINFO.DAT", "big.xla", "dropped.dll", "missing.dll",
                                        "slow.dll", "small.xls"}),
              names);
    auto asked = paths();
    EXPECT_EQ(2, std::count(asked.begin(), asked.end(), web_path("dropped.dll", other)));
    EXPECT_EQ(1, std::count(asked.begin(), asked.end(), web_path("big.xla", big)));
}

TEST_F(WebInstall, ACatalogueThatCannotBeUsedIsNamedAndNothingElseIsAsked)
{
    std::string sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen +=
            (i ? TEXT_RECORD_SEPARATOR : "") + record_for("f" + std::to_string(i) + ".dll", A);
    serve({{"/lib/" STATIC_CATALOGUE_NAME, sixteen, web_rule::SERVE}});
    EXPECT_FALSE(retrieve().ok);
    EXPECT_NE(std::string(web_retrieval_line()).find(TEXT_WEB_RECORD_LIMITS), std::string::npos)
        << web_retrieval_line();
    stop_text_peer(&peer);

    serve({});
    EXPECT_FALSE(retrieve().ok);
    EXPECT_NE(std::string(web_retrieval_line()).find("HTTP 404"), std::string::npos)
        << web_retrieval_line();
    EXPECT_EQ(1u, paths().size());
}

TEST_F(WebInstall, PlainHttpWithoutAPublisherKeyFetchesNothing)
{
    remove_setting(SETTING_PUBLISHER_KEY);
    serve({{"/lib/" STATIC_CATALOGUE_NAME, record_for("a.dll", A), web_rule::SERVE}});
    EXPECT_EQ(WEB_REFUSED_HTTP_WITHOUT_KEY, g_web_library.refusal);
    EXPECT_FALSE(retrieve().ok);
    std::string line = web_retrieval_line();
    EXPECT_NE(line.find("PublisherKey"), std::string::npos) << line;
    EXPECT_NE(line.find(g_web_library.address.url), std::string::npos) << line;
    EXPECT_EQ(0, peer.accepted);

    // https needs no key: the certificate carries the trust.
    library_url secure = {URL_FROM_USER, 0, "https://library.example/"};
    set_web_library(&secure);
    EXPECT_EQ(WEB_ALLOWED, g_web_library.refusal);
}

// ---------------------------------------------------------------- where the address comes from

struct LibraryUrl : testing::Test {
    saved_setting url{SETTING_LIBRARY_URL};
    HKEY machine = nullptr;

    void SetUp() override
    {
        reset_install_folder();
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0,
                                  KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &machine, nullptr),
                  ERROR_SUCCESS);
        RegDeleteValueA(machine, SETTING_LIBRARY_URL);
        remove_setting(SETTING_LIBRARY_URL);
    }
    void TearDown() override
    {
        RegDeleteValueA(machine, SETTING_LIBRARY_URL);
        RegCloseKey(machine);
        reset_install_folder();
    }
    library_url resolve(const char *option = nullptr)
    {
        library_url out;
        resolve_library_url(&out, option);
        return out;
    }
};

TEST_F(LibraryUrl, OptionThenMachineThenUserThenOfflineIni)
{
    EXPECT_EQ(URL_NOWHERE, resolve().source);
    ASSERT_TRUE(write_whole_file(LIBRARY_FOLDER "Offline.INI",
                                 "[SERVER]\r\nURL= https://ini.example/ \r\n"));
    EXPECT_EQ(URL_FROM_OFFLINE_INI, resolve().source);
    EXPECT_STREQ("https://ini.example/", resolve().url);
    put_setting(SETTING_LIBRARY_URL, "https://user.example/");
    EXPECT_STREQ("https://user.example/", resolve().url);
    EXPECT_EQ(URL_FROM_USER, resolve().source);
    const char policy[] = "https://policy.example/";
    RegSetValueExA(machine, SETTING_LIBRARY_URL, 0, REG_SZ, (const BYTE *)policy, sizeof policy);
    EXPECT_STREQ(policy, resolve().url);
    EXPECT_EQ(URL_FROM_MACHINE, resolve().source);
    library_url option = resolve("  http://option.example/ ");
    EXPECT_EQ(URL_FROM_OPTION, option.source);
    EXPECT_STREQ("http://option.example/", option.url);
}

TEST_F(LibraryUrl, AnUnreadablePolicyStopsTheSearchAndFetchesNothing)
{
    put_setting(SETTING_LIBRARY_URL, "https://user.example/");
    DWORD number = 1;
    RegSetValueExA(machine, SETTING_LIBRARY_URL, 0, REG_DWORD, (const BYTE *)&number,
                   sizeof number);
    library_url broken = resolve();
    EXPECT_EQ(1, broken.unreadable);
    EXPECT_EQ(URL_FROM_MACHINE, broken.source);
    EXPECT_STREQ("", broken.url);
    set_web_library(&broken);
    EXPECT_TRUE(web_library_in_force()) << "no fall back to the socket protocols";
    EXPECT_EQ(WEB_REFUSED_UNREADABLE, g_web_library.refusal);
    retrieval_result result;
    retrieve_catalogue(&result, nullptr, nullptr, nullptr);
    EXPECT_FALSE(result.ok);
    EXPECT_STREQ(TEXT_WEB_URL_UNREADABLE, web_retrieval_line());
    set_web_library(nullptr);
    EXPECT_FALSE(web_library_in_force());
}

// A manifest whose answer's head trickles is abandoned by the request's deadline and named
// as too slow, not as never received.
TEST_F(WebInstall, ATrickledManifestIsNamedTooSlow)
{
    serve({{"/lib/" STATIC_CATALOGUE_NAME, record_for("a.dll", A), web_rule::SERVE},
           {"/lib/" MANIFEST_FILE_NAME, std::string(300, 'm'), web_rule::HEAD_TRICKLE}});
    rate_bound_for_test bound(1 << 20, 200);
    ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(retrieve(true).ok) << web_retrieval_line();
    EXPECT_LT(GetTickCount64() - started, 10000u);
    EXPECT_EQ(VERDICT_TOO_SLOW, library_signature_verdict());
}

// ---------------------------------------------------------------- a signed library over http

TEST_F(WebInstall, TheManifestComesOverTheWebAndOnlySignedFilesInstall)
{
    std::string dir = env_text("PAVOSET_SIGNED_DIR");
    if (dir.empty())
        GTEST_SKIP() << "PAVOSET_SIGNED_DIR not set (see signed_fixtures.sh)";
    std::string a = read_whole_file((dir + "\\lib\\a.dll").c_str());
    std::string b = read_whole_file((dir + "\\lib\\b.xla").c_str());
    std::string c = read_whole_file((dir + "\\lib\\c.dll").c_str());
    std::string key1 = read_whole_file((dir + "\\key1.pub").c_str());
    key1.erase(key1.find_last_not_of(" \r\n") + 1);
    put_setting(SETTING_PUBLISHER_KEY, key1);
    serve({{"/lib/" STATIC_CATALOGUE_NAME,
            record_for("a.dll", a) + TEXT_RECORD_SEPARATOR + record_for("b.xla", b) +
                TEXT_RECORD_SEPARATOR + record_for("c.dll", c),
            web_rule::SERVE},
           {"/lib/" MANIFEST_FILE_NAME, read_whole_file((dir + "\\key1.manifest").c_str()),
            web_rule::SERVE},
           {web_path("a.dll", a), a, web_rule::SERVE},
           {web_path("b.xla", b), b, web_rule::SERVE},
           {web_path("c.dll", c), c, web_rule::SERVE}});
    ASSERT_TRUE(retrieve(true).ok) << web_retrieval_line();
    check_library_signature(nullptr);
    EXPECT_EQ(VERDICT_VERIFIED, library_signature_verdict());
    EXPECT_EQ(2, install());
    ASSERT_EQ(1, report.failed);
    EXPECT_EQ(INSTALL_NOT_SIGNED, report.failed_reasons[0]);
    auto asked = paths();
    EXPECT_EQ(std::find(asked.begin(), asked.end(), web_path("c.dll", c)), asked.end());
    EXPECT_FALSE(path_exists(LIBRARY_FOLDER MANIFEST_FILE_NAME));
}

}  // namespace
