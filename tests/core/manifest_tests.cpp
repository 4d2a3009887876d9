#include <gtest/gtest.h>

#include <string>

#include "core/base64.h"
#include "core/manifest.h"

static const std::string HASH(64, 'a');
static const std::string SIGNATURE_LINE = "signature " + std::string(86, 'A') + "==\n";

static std::string body(const std::string &files, const std::string &expiry = "")
{
    return "pavoset-manifest 1\nsequence 1765000000\n" + expiry + files;
}

static int parse(const std::string &text, manifest *m)
{
    return parse_manifest(text.data(), text.size(), m);
}

static manifest m;

TEST(Manifest, ReadsEveryFieldAndTheSignedLength)
{
    std::string signed_part = body("file " + HASH +
                                       " 47616 134097408000000000 Kickoff.xls\n"
                                       "file " +
                                       std::string(64, '0') + " 0 0 \xB0\xA1 space d.dll\n",
                                   "expires 1767225600\n");
    ASSERT_EQ(parse(signed_part + SIGNATURE_LINE, &m), MANIFEST_OK);
    EXPECT_EQ(m.sequence, 1765000000u);
    EXPECT_EQ(m.has_expiry, 1);
    EXPECT_EQ(m.expires, 1767225600u);
    ASSERT_EQ(m.file_count, 2);
    EXPECT_STREQ(m.files[0].name, "Kickoff.xls");
    EXPECT_EQ(m.files[0].size, 47616u);
    EXPECT_EQ(m.files[0].file_time, 134097408000000000u);
    EXPECT_EQ(m.files[0].sha256[0], 0xAA);
    EXPECT_STREQ(m.files[1].name, "\xB0\xA1 space d.dll") << "names may hold blanks";
    EXPECT_EQ(m.signed_length, signed_part.size());
    EXPECT_EQ(format_manifest_body(&m), signed_part) << "the writer gives back the same bytes";
    EXPECT_EQ(manifest_find(&m, "Kickoff.xls"), &m.files[0]);
    EXPECT_EQ(manifest_find(&m, "KICKOFF.XLS"), &m.files[0]) << "the same file on Windows";
    EXPECT_EQ(manifest_find(&m, "Kickoff.xla"), nullptr);
}

TEST(Manifest, EveryTruncationIsRefused)
{
    std::string text = body("file " + HASH + " 1 2 a.dll\n") + SIGNATURE_LINE;
    for (size_t n = 0; n < text.size(); ++n)
        EXPECT_NE(parse_manifest(text.data(), n, &m), MANIFEST_OK) << n;
    EXPECT_EQ(parse(text, &m), MANIFEST_OK);
    EXPECT_NE(parse(text + "x", &m), MANIFEST_OK) << "nothing may follow the signature";
}

TEST(Manifest, RefusesMalformedContent)
{
    const std::string f = "file " + HASH + " 1 2 a.dll\n";
    struct {
        std::string text;
        int result;
    } cases[] = {
        {"pavoset-manifest 2\nsequence 1\n" + f + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {"pavoset-manifest 1\r\nsequence 1\n" + f + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {"pavoset-manifest 1\nsequence 01\n" + f + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {"pavoset-manifest 1\nsequence 18446744073709551616\n" + SIGNATURE_LINE,
         MANIFEST_BAD_FORMAT},
        {"pavoset-manifest 1\nsequence -1\n" + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body(f, "expires 5\nexpires 6\n") + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body(f + "expires 5\n") + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body("file " + std::string(64, 'A') + " 1 2 a.dll\n") + SIGNATURE_LINE,
         MANIFEST_BAD_FORMAT},
        {body("file " + HASH + "0 1 2 a.dll\n") + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body("file " + HASH + "  1 2 a.dll\n") + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body("file " + HASH + " 1 2\n") + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body(f + "comment\n") + SIGNATURE_LINE, MANIFEST_BAD_FORMAT},
        {body(f), MANIFEST_UNSIGNED},
        {body(f) + "signature " + std::string(86, 'A') + "=\n", MANIFEST_UNSIGNED},
        {body(f) + "signature " + std::string(86, 'A') + "AB\n", MANIFEST_UNSIGNED},  // 66 bytes
        {body(f) + "signature " + std::string(86, 'A') + "B=\n", MANIFEST_UNSIGNED},  // stray bits
        {body(f) + "signature " + std::string(85, 'A') + "*==\n", MANIFEST_UNSIGNED},
        {std::string(MANIFEST_MAX_BYTES + 1, 'x'), MANIFEST_TOO_LARGE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse(c.text, &m), c.result) << c.text;
}

TEST(Manifest, RefusesUnsafeReservedAndDuplicateNames)
{
    const char *bad[] = {"..\\x.dll", "sub/x.dll",        "C:x.dll",
                         "tab\tx",    MANIFEST_FILE_NAME, "PAVOSET.MANIFEST"};
    for (const char *name : bad)
        EXPECT_EQ(parse(body("file " + HASH + " 1 2 " + name + "\n") + SIGNATURE_LINE, &m),
                  MANIFEST_BAD_NAME)
            << name;
    std::string nul_name = body("file " + HASH + " 1 2 a") + '\0' + "b\n" + SIGNATURE_LINE;
    EXPECT_EQ(parse(nul_name, &m), MANIFEST_BAD_NAME);
    EXPECT_EQ(
        parse(body("file " + HASH + " 1 2 A.dll\nfile " + HASH + " 1 2 a.DLL\n") + SIGNATURE_LINE,
              &m),
        MANIFEST_BAD_NAME)
        << "one file on Windows";
    EXPECT_EQ(
        parse(body("file " + HASH + " 1 2 \xA3\xE1.dll\nfile " + HASH + " 1 2 \xA3\xC1.dll\n") +
                  SIGNATURE_LINE,
              &m),
        MANIFEST_BAD_NAME)
        << "full-width letters fold too";
    // A code page 949 trail byte that looks like a letter is not folded: two distinct names.
    EXPECT_EQ(
        parse(body("file " + HASH + " 1 2 \x81\x61.dll\nfile " + HASH + " 1 2 \x81\x41.dll\n") +
                  SIGNATURE_LINE,
              &m),
        MANIFEST_OK);
    std::string many;
    for (int i = 0; i <= MANIFEST_MAX_FILES; ++i)
        many += "file " + HASH + " 1 2 f" + std::to_string(i) + "\n";
    EXPECT_EQ(parse(body(many) + SIGNATURE_LINE, &m), MANIFEST_TOO_MANY_FILES);
}

TEST(Manifest, PublicKeysAndBase64AreStrict)
{
    uint8_t raw[PUBLIC_KEY_SIZE];
    for (int i = 0; i < PUBLIC_KEY_SIZE; ++i)
        raw[i] = (uint8_t)(i * 7 + 1);
    char text[128];
    base64_encode(raw, sizeof raw, text);
    uint8_t key[PUBLIC_KEY_SIZE] = {};
    ASSERT_EQ(parse_public_key(text, strlen(text), key), 1);
    EXPECT_EQ(memcmp(key, raw, sizeof key), 0);
    EXPECT_EQ(parse_public_key(text, strlen(text) - 4, key), 0) << "a short key";
    text[10] = '.';
    EXPECT_EQ(parse_public_key(text, strlen(text), key), 0);
    char encoded[8];
    base64_encode((const uint8_t *)"ab", 2, encoded);
    EXPECT_STREQ(encoded, "YWI=");
    uint8_t out[4];
    EXPECT_EQ(base64_decode("YWI=", 4, out, sizeof out), 2);
    EXPECT_EQ(base64_decode("YWJ=", 4, out, sizeof out), -1);
    EXPECT_EQ(base64_decode("Y=I=", 4, out, sizeof out), -1);
}
