// The static folder for web servers: what `pavoset-server --export` writes is read back the way
// a client reads it (the core's field splitting, paths from the catalogue's code page 949
// names, the manifest checked with the printed public key only).
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include <openssl/evp.h>

#include "core/field_split.h"
#include "core/file_checksum.h"
#include "core/manifest.h"
#include "core/static_layout.h"
#include "core/text_protocol.h"
#include "server/library_export.h"
#include "server/signing_key.h"
#include "tests/server/signature_check.h"
#include "tests/server/test_server.h"

namespace {

struct catalogue_row {
    std::string name_cp949;
    uint32_t crc;
    uint64_t size;
};

std::string utf8_from_cp949(const std::string &cp949)
{
    iconv_t cd = iconv_open("UTF-8", "CP949");
    std::string out(cp949.size() * 3 + 4, '\0');
    char *in = const_cast<char *>(cp949.data()), *at = &out[0];
    size_t in_left = cp949.size(), out_left = out.size();
    size_t rc = iconv(cd, &in, &in_left, &at, &out_left);
    iconv_close(cd);
    EXPECT_NE(rc, (size_t)-1) << cp949;
    out.resize(out.size() - out_left);
    return out;
}

// The catalogue as the client's splitter cuts it: "~|" between records, "^|" between fields.
std::vector<catalogue_row> read_catalogue(const std::string &path)
{
    std::string text = read_file(path);
    std::vector<catalogue_row> rows;
    field_list records;
    split_fields(&records, &text[0], TEXT_RECORD_SEPARATOR, FIELD_LIST_CAPACITY);
    for (int r = 0; r < records.count; ++r) {
        std::string record(records.starts[r], static_cast<size_t>(records.lengths[r]));
        field_list fields;
        EXPECT_EQ(split_fields(&fields, &record[0], TEXT_FIELD_SEPARATOR, FIELD_LIST_CAPACITY), 5)
            << record;
        if (fields.count != 5)
            continue;
        auto field = [&](int i) { return std::string(fields.starts[i], fields.lengths[i]); };
        rows.push_back(
            {field(0), static_cast<uint32_t>(std::stoul(field(1))), std::stoull(field(2))});
    }
    return rows;
}

// Where a web server serving out finds the file a client asks for: the address made from the
// catalogue's name, percent-decoded as the server decodes it.
std::string static_path(const std::string &out, const catalogue_row &row)
{
    char address[1024];
    EXPECT_GT(static_file_path(utf8_from_cp949(row.name_cp949).c_str(), row.crc, row.size, address,
                               sizeof address),
              0u);
    std::string decoded;
    for (const char *p = address; *p; ++p) {
        if (*p == '%' && p[1] && p[2]) {
            decoded += static_cast<char>(std::stoi(std::string(p + 1, 2), nullptr, 16));
            p += 2;
        } else {
            decoded += *p;
        }
    }
    return out + "/" + decoded;
}

std::vector<std::string> leftovers(const std::string &out)
{
    std::vector<std::string> found;
    for (auto &entry : std::filesystem::recursive_directory_iterator(out))
        if (entry.path().string().find(".partial") != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

bool export_to(const std::string &library, const std::string &out, const std::string &key,
               export_result *result, std::string *error)
{
    export_request request;
    request.library = library;
    request.out = out;
    request.key_path = key;
    request.now = 1800000000;
    *result = export_result();
    return export_library(request, result, error);
}

}  // namespace

static manifest parsed;

TEST(LibraryExport, RoundTripGivesEveryFileAtItsPathAndAVerifiedManifest)
{
    std::string library = make_sample_folder();
    // A Korean name, a blank and brackets: every one of them percent-encoded in the path.
    write_file(library + "/플리모 차트(2).xla", "korean name\n");
    write_file(library + "/100%.ini", "percent\n");
    std::string out = make_scratch_folder() + "/web";
    std::string key = library + ".pem", public_key, error;
    ASSERT_TRUE(make_signing_key(key, &public_key, &error)) << error;

    export_result result;
    ASSERT_TRUE(export_to(library, out, key, &result, &error)) << error;
    EXPECT_EQ(result.files, 9);
    EXPECT_EQ(result.files_written, 9);
    EXPECT_TRUE(result.has_manifest);

    std::vector<catalogue_row> rows = read_catalogue(out + "/" STATIC_CATALOGUE_NAME);
    ASSERT_EQ(rows.size(), 9u);
    std::string manifest_text = read_file(out + "/" MANIFEST_FILE_NAME);
    ASSERT_EQ(parse_manifest(manifest_text.data(), manifest_text.size(), &parsed), MANIFEST_OK);
    EXPECT_TRUE(
        verifies(public_key, manifest_text.substr(0, parsed.signed_length), parsed.signature));
    EXPECT_EQ(parsed.sequence, result.sequence);
    EXPECT_EQ(parsed.file_count, 9);
    for (const catalogue_row &row : rows) {
        std::string path = static_path(out, row);
        std::string bytes = read_file(path);
        std::string original = read_file(library + "/" + utf8_from_cp949(row.name_cp949));
        EXPECT_EQ(bytes, original) << path;
        EXPECT_EQ(bytes.size(), row.size);
        EXPECT_EQ(crc32_update(0, bytes.data(), bytes.size()), row.crc) << path;
        const manifest_file *entry = manifest_find(&parsed, row.name_cp949.c_str());
        ASSERT_NE(entry, nullptr) << path;
        uint8_t digest[32];
        EVP_Digest(bytes.data(), bytes.size(), digest, nullptr, EVP_sha256(), nullptr);
        EXPECT_EQ(memcmp(digest, entry->sha256, 32), 0) << path;
    }
    // The Korean name's folder and name, spelled out.
    char folder[32];
    snprintf(folder, sizeof folder, "/files/%08x-12/", crc32_update(0, "korean name\n", 12));
    EXPECT_EQ(read_file(out + folder + "플리모 차트(2).xla"), "korean name\n");
    EXPECT_TRUE(leftovers(out).empty());
    // The library folder itself is left as it was: no manifest written into it.
    EXPECT_FALSE(std::filesystem::exists(library + "/" MANIFEST_FILE_NAME));
    remove_folder(library);
    remove_folder(out + "/..");
    unlink(key.c_str());
}

TEST(LibraryExport, InPlaceKeepsTheOldFilesWritesOnlyChangesAndReplacesCatalogueAndManifest)
{
    std::string library = make_scratch_folder();
    write_file(library + "/a.dll", "version one");
    write_file(library + "/b.xla", "stays the same");
    std::string out = make_scratch_folder();
    std::string key = library + ".pem", public_key, error;
    ASSERT_TRUE(make_signing_key(key, &public_key, &error)) << error;
    export_result first, second;
    ASSERT_TRUE(export_to(library, out, key, &first, &error)) << error;
    std::vector<catalogue_row> old_rows = read_catalogue(out + "/" STATIC_CATALOGUE_NAME);

    write_file(library + "/a.dll", "version two, longer");
    ASSERT_TRUE(export_to(library, out, key, &second, &error)) << error;
    EXPECT_EQ(second.files, 2);
    EXPECT_EQ(second.files_written, 1) << "only the changed file is written again";
    EXPECT_GT(second.sequence, first.sequence);
    std::vector<catalogue_row> new_rows = read_catalogue(out + "/" STATIC_CATALOGUE_NAME);
    ASSERT_EQ(old_rows.size(), 2u);
    ASSERT_EQ(new_rows.size(), 2u);
    // A client still holding the old catalogue finds every file it names, unchanged.
    EXPECT_EQ(read_file(static_path(out, old_rows[0])), "version one");
    EXPECT_EQ(read_file(static_path(out, new_rows[0])), "version two, longer");
    EXPECT_EQ(static_path(out, old_rows[1]), static_path(out, new_rows[1]));

    // Bytes at a file's path that are not the file (a damaged copy) are written anew.
    std::string damaged = static_path(out, new_rows[1]);
    write_file(damaged, "stays the samf");
    ASSERT_TRUE(export_to(library, out, "", &second, &error)) << error;
    EXPECT_EQ(second.files_written, 1);
    EXPECT_EQ(read_file(damaged), "stays the same");
    // Exported without a key, the signed manifest of before would vouch for other files.
    EXPECT_FALSE(second.has_manifest);
    EXPECT_FALSE(std::filesystem::exists(out + "/" MANIFEST_FILE_NAME));
    EXPECT_TRUE(leftovers(out).empty());
    remove_folder(library);
    remove_folder(out);
    unlink(key.c_str());
}

TEST(LibraryExport, RefusesWhatTheServerRefusesAndLeavesThePublishedFolderAsItWas)
{
    std::string library = make_scratch_folder();
    write_file(library + "/good.dll", "good");
    std::string out = make_scratch_folder(), error;
    export_result result;
    ASSERT_TRUE(export_to(library, out, "", &result, &error)) << error;
    std::string catalogue = read_file(out + "/" STATIC_CATALOGUE_NAME);

    const char *refused[] = {"a:b.dll", "bad\x01name.dll", "CON.xla", "trailing.", "x^|y.dll"};
    for (const char *name : refused) {
        write_file(library + "/" + name, "x");
        error.clear();
        EXPECT_FALSE(export_to(library, out, "", &result, &error)) << name;
        EXPECT_NE(error.find("file "), std::string::npos) << error;
        EXPECT_EQ(read_file(out + "/" STATIC_CATALOGUE_NAME), catalogue) << name;
        unlink((library + "/" + name).c_str());
    }
    for (int i = 0; i < 15; ++i)
        write_file(library + "/f" + std::to_string(i) + ".dll", "x");
    EXPECT_FALSE(export_to(library, out, "", &result, &error));
    EXPECT_NE(error.find("more than 15"), std::string::npos) << error;
    EXPECT_EQ(read_file(out + "/" STATIC_CATALOGUE_NAME), catalogue);

    // A key that cannot sign stops the export before anything is written.
    std::string fresh = make_scratch_folder() + "/web";
    write_file(library + "/../not-a-key.pem", "hello");
    for (int i = 0; i < 15; ++i)
        unlink((library + "/f" + std::to_string(i) + ".dll").c_str());
    EXPECT_FALSE(export_to(library, fresh, library + "/../not-a-key.pem", &result, &error));
    EXPECT_FALSE(std::filesystem::exists(fresh + "/" STATIC_CATALOGUE_NAME));
    EXPECT_EQ(result.files_written, 0);
    // The static folder must not be the library folder: its catalogue would become a file.
    EXPECT_FALSE(export_to(library, library, "", &result, &error));
    EXPECT_FALSE(std::filesystem::exists(library + "/" STATIC_CATALOGUE_NAME));
    unlink((library + "/../not-a-key.pem").c_str());
    remove_folder(fresh + "/..");
    remove_folder(library);
    remove_folder(out);
}
