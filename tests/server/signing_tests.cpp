// Signing keys and the signed manifest: what an administrator's clients will trust.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "core/base64.h"
#include "core/manifest.h"
#include "core/text_protocol.h"
#include "server/library_catalogue.h"
#include "server/library_signing.h"
#include "server/probe_client.h"
#include "server/server_options.h"
#include "server/signing_key.h"
#include "tests/server/signature_check.h"
#include "tests/server/test_server.h"

static manifest parsed;

TEST(SigningKey, IsPrivateToItsOwnerAndNeverOverwritten)
{
    std::string dir = make_scratch_folder();
    std::string path = dir + "/publisher.pem", public_key, again, error;
    ASSERT_TRUE(make_signing_key(path, &public_key, &error)) << error;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(public_key.size(), 88u);
    ASSERT_TRUE(signing_public_key(path, &again, &error)) << error;
    EXPECT_EQ(again, public_key);

    std::string before = read_file(path), other;
    EXPECT_FALSE(make_signing_key(path, &other, &error));
    EXPECT_NE(error.find("never overwritten"), std::string::npos) << error;
    EXPECT_EQ(read_file(path), before);
    write_file(dir + "/not-a-key.pem", "hello");
    uint8_t rs[64];
    EXPECT_FALSE(sign_with_key(dir + "/not-a-key.pem", "x", 1, rs, &error));
    remove_folder(dir);
}

TEST(LibrarySigning, ListsWhatIsPublishedWithHashesAndAVerifiableSignature)
{
    std::string dir = make_sample_folder();
    std::string key = dir + "/../" + std::to_string(getpid()) + "-key.pem", public_key, error;
    ASSERT_TRUE(make_signing_key(key, &public_key, &error)) << error;
    signing_result result;
    ASSERT_TRUE(sign_library(dir, key, 0, 1700000000, &result, &error)) << error;
    std::string text = read_file(dir + "/" MANIFEST_FILE_NAME);
    ASSERT_EQ(parse_manifest(text.data(), text.size(), &parsed), MANIFEST_OK) << text;
    EXPECT_EQ(parsed.has_expiry, 0);

    catalogue_cache cache;
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error) && refresh_catalogue(&cache, &error));
    ASSERT_EQ(parsed.file_count, (int)cache.current.files.size());
    EXPECT_EQ(result.files, parsed.file_count);
    for (const library_file &file : cache.current.files) {
        const manifest_file *entry = manifest_find(&parsed, file.wire_name.c_str());
        ASSERT_NE(entry, nullptr) << file.fs_name;
        EXPECT_EQ(entry->size, file.size);
        std::string content = read_file(file.path);
        uint8_t digest[32];
        EVP_Digest(content.data(), content.size(), digest, nullptr, EVP_sha256(), nullptr);
        EXPECT_EQ(memcmp(digest, entry->sha256, 32), 0) << file.fs_name;
    }
    std::string body = text.substr(0, parsed.signed_length);
    EXPECT_TRUE(verifies(public_key, body, parsed.signature));
    body[body.size() / 2] ^= 1;
    EXPECT_FALSE(verifies(public_key, body, parsed.signature)) << "a changed byte";
    remove_folder(dir);
    unlink(key.c_str());
}

TEST(LibrarySigning, SequenceGrowsWithEverySigningAndWithTime)
{
    std::string dir = make_scratch_folder();
    write_file(dir + "/a.dll", "abc");
    std::string key = dir + ".pem", public_key, error;
    ASSERT_TRUE(make_signing_key(key, &public_key, &error)) << error;
    signing_result result;
    auto sequence_after = [&](int64_t now, int days) {
        EXPECT_TRUE(sign_library(dir, key, days, now, &result, &error)) << error;
        std::string text = read_file(dir + "/" MANIFEST_FILE_NAME);
        EXPECT_EQ(parse_manifest(text.data(), text.size(), &parsed), MANIFEST_OK);
        EXPECT_EQ(parsed.sequence, result.sequence);
        return parsed.sequence;
    };
    EXPECT_EQ(sequence_after(1000, 0), 1000u) << "the first is the current time";
    EXPECT_EQ(sequence_after(1000, 0), 1001u) << "within one second: previous + 1";
    EXPECT_EQ(sequence_after(500, 0), 1002u) << "a clock set back never goes below previous + 1";
    EXPECT_EQ(sequence_after(9000, 2), 9000u);
    EXPECT_EQ(parsed.expires, 9000u + 2 * 86400u);

    // An unreadable manifest is not silently replaced: its number is unknown.
    write_file(dir + "/" MANIFEST_FILE_NAME, "garbage");
    EXPECT_FALSE(sign_library(dir, key, 0, 10000, &result, &error));
    EXPECT_EQ(read_file(dir + "/" MANIFEST_FILE_NAME), "garbage");
    remove_folder(dir);
    unlink(key.c_str());
}

TEST(LibrarySigning, ManifestIsServedButNeverListed)
{
    std::string dir = make_scratch_folder();
    write_file(dir + "/a.dll", "abc");
    write_file(dir + "/" MANIFEST_FILE_NAME, "pavoset-manifest 1\n");
    write_file(dir + "/" MANIFEST_FILE_NAME ".tmp", "half");
    auto server = start_test_server(test_options(dir));
    ASSERT_TRUE(server);
    int fd = probe_connect("127.0.0.1", server->ports.text, 2000);
    std::string answer;
    ASSERT_TRUE(probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE,
                                    &answer, 3000));
    EXPECT_EQ(answer.find("manifest"), std::string::npos) << answer;
    EXPECT_NE(answer.find("a.dll"), std::string::npos) << answer;
    probe_download download;
    download.keep_data = true;
    ASSERT_EQ(probe_text_download(fd, MANIFEST_FILE_NAME, &download, 3000), 1);
    EXPECT_EQ(download.data, "pavoset-manifest 1\n");
    probe_close(fd);
    probe_download framed;
    framed.keep_data = true;
    ASSERT_EQ(
        probe_framed_download("127.0.0.1", server->ports.file, MANIFEST_FILE_NAME, &framed, 3000),
        1);
    EXPECT_EQ(framed.data, "pavoset-manifest 1\n");
    stop_test_server(server.get());

    // A library file spelt like the manifest would be the same file on Windows.
    write_file(dir + "/PAVOSET.manifest", "x");
    catalogue_cache cache;
    std::string error;
    ASSERT_TRUE(open_catalogue_cache(&cache, dir, &error));
    EXPECT_FALSE(refresh_catalogue(&cache, &error));
    EXPECT_NE(error.find("reserved"), std::string::npos) << error;
    remove_folder(dir);
}

// Freeze is the attack an expiry answers: signing gives one unless asked not to.
TEST(LibrarySigning, EverySigningExpiresUnlessAskedNotTo)
{
    auto options_of = [](std::vector<const char *> args) {
        server_options options;
        std::string error;
        args.insert(args.begin(), "pavoset-server");
        EXPECT_EQ(parse_server_options((int)args.size(), const_cast<char **>(args.data()), &options,
                                       &error),
                  0)
            << error;
        return options.expires_days;
    };
    EXPECT_EQ(options_of({"--sign", "lib", "--key", "k.pem"}), 90);
    EXPECT_EQ(options_of({"--sign", "lib", "--key", "k.pem", "--expires-days", "0"}), 0);
    EXPECT_EQ(options_of({"--sign", "lib", "--key", "k.pem", "--expires-days", "7"}), 7);

    std::string dir = make_scratch_folder();
    write_file(dir + "/a.dll", "abc");
    std::string key = dir + ".pem", public_key, error;
    ASSERT_TRUE(make_signing_key(key, &public_key, &error)) << error;
    signing_result result;
    ASSERT_TRUE(sign_library(dir, key, SIGNING_EXPIRY_DEFAULT_DAYS, 5000, &result, &error))
        << error;
    std::string text = read_file(dir + "/" MANIFEST_FILE_NAME);
    manifest parsed;
    ASSERT_EQ(parse_manifest(text.data(), text.size(), &parsed), MANIFEST_OK);
    EXPECT_EQ(parsed.has_expiry, 1);
    EXPECT_EQ(parsed.expires, 5000u + 90u * 86400u);
    remove_folder(dir);
    unlink(key.c_str());
}

// Windows takes these names for one file; the signing refuses them as it refuses "A"/"a".
TEST(LibrarySigning, NamesThatDifferOnlyInNonAsciiLetterCaseAreRefused)
{
    const char *pairs[][2] = {{"\xEF\xBD\x81.dll", "\xEF\xBC\xA1.dll"},  // full-width a, A
                              {"\xCE\xB1.xla", "\xCE\x91.xla"}};         // Greek alpha
    for (auto &pair : pairs) {
        std::string dir = make_scratch_folder();
        write_file(dir + "/" + pair[0], "one");
        write_file(dir + "/" + pair[1], "two");
        std::string key = dir + ".pem", public_key, error;
        ASSERT_TRUE(make_signing_key(key, &public_key, &error)) << error;
        signing_result result;
        EXPECT_FALSE(sign_library(dir, key, 1, 5000, &result, &error)) << pair[0];
        EXPECT_NE(error.find("differ only in letter case"), std::string::npos) << error;
        EXPECT_EQ(access((dir + "/" MANIFEST_FILE_NAME).c_str(), F_OK), -1) << "nothing signed";
        remove_folder(dir);
        unlink(key.c_str());
    }
}
