// The version the program carries in its resources (the version information and the manifest)
// is the project's, as the generated header has it: a resource left with an old number, or
// text and numbers that disagree, fail here.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pavoset_version.h"

namespace {

// This executable's version information block (the program's resources are linked in).
std::vector<char> own_version_info()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data()))
        return {};
    return block;
}

std::string string_value(std::vector<char> &block, const char *name)
{
    std::string query = std::string("\\StringFileInfo\\041203b5\\") + name;
    char *text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void **>(&text), &length) ||
        !text)
        return "(missing)";
    return std::string(text);
}

}  // namespace

TEST(VersionInfo, NumbersAndTextsAreTheProjectVersion)
{
    std::vector<char> block = own_version_info();
    ASSERT_FALSE(block.empty()) << "no version information, error " << GetLastError();
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_GE(length, sizeof *fixed);
    const DWORD high = MAKELONG(PAVOSET_VERSION_MINOR, PAVOSET_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, PAVOSET_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(string_value(block, "FileVersion"), PAVOSET_FILE_VERSION_TEXT);
    EXPECT_EQ(string_value(block, "ProductVersion"), PAVOSET_FILE_VERSION_TEXT);
}

TEST(VersionInfo, ManifestNamesTheProjectVersion)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(nullptr, found);
    ASSERT_NE(loaded, nullptr);
    std::string manifest(static_cast<const char *>(LockResource(loaded)),
                         SizeofResource(nullptr, found));
    EXPECT_NE(
        manifest.find("name=\"TervalenWyndale.Pavoset\" version=\"" PAVOSET_FILE_VERSION_TEXT "\""),
        std::string::npos)
        << manifest.substr(0, 300);
    EXPECT_EQ(manifest.find('@'), std::string::npos) << "a placeholder left unfilled";
    // Both the program and the common controls it asks for are of this build's architecture.
    const char *architecture =
        sizeof(void *) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\"";
    auto count = [&manifest](const char *text) {
        int n = 0;
        for (size_t at = manifest.find(text); at != std::string::npos;
             at = manifest.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(2, count("processorArchitecture="));
    EXPECT_EQ(2, count(architecture)) << manifest;
}
