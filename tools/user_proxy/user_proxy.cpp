// user_proxy HOST:PORT [BYPASS] | -pac URL | -auto | -none | -show
// Sets the current user's proxy in a throwaway Wine prefix, where WinHTTP's
// WinHttpGetIEProxyConfigForCurrentUser reads it: the binary "DefaultConnectionSettings" under
// HKCU\...\Internet Settings\Connections (and, for programs that read those, ProxyEnable,
// ProxyServer, ProxyOverride and AutoConfigURL under Internet Settings). -show prints what
// WinHTTP then reports. Made for the tests' prefixes; the host machine is never touched.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

static const wchar_t SETTINGS_KEY[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
static const wchar_t CONNECTIONS_KEY[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The flags of the connection settings blob.
enum { DIRECT = 1, NAMED_PROXY = 2, PAC_URL = 4, AUTO_DETECT = 8, BLOB_VERSION = 0x46 };

static void say(const char *text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

static std::string narrow(const wchar_t *text)
{
    std::string out;
    for (; text && *text; ++text)
        out += *text < 0x80 ? (char)*text : '?';
    return out;
}

static void put_dword(std::vector<BYTE> *blob, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        blob->push_back((BYTE)(value >> (8 * i)));
}

static void put_text(std::vector<BYTE> *blob, const std::string &text)
{
    put_dword(blob, (DWORD)text.size());
    blob->insert(blob->end(), text.begin(), text.end());
}

static bool write_settings(DWORD flags, const std::string &proxy, const std::string &bypass,
                           const std::string &pac)
{
    std::vector<BYTE> blob;
    put_dword(&blob, BLOB_VERSION);
    put_dword(&blob, 1);  // a change counter
    put_dword(&blob, flags);
    put_text(&blob, proxy);
    put_text(&blob, bypass);
    put_text(&blob, pac);
    blob.insert(blob.end(), 32, 0);  // the fields Windows keeps after these, unused here
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, CONNECTIONS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, blob.data(),
                             (DWORD)blob.size()) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    DWORD enable = (flags & NAMED_PROXY) ? 1 : 0;
    ok = ok && RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, (const BYTE *)&enable,
                              sizeof enable) == ERROR_SUCCESS;
    auto put_or_remove = [&](const wchar_t *name, const std::string &value) {
        if (value.empty()) {
            RegDeleteValueW(key, name);
            return;
        }
        ok = ok && RegSetValueExA(key, narrow(name).c_str(), 0, REG_SZ, (const BYTE *)value.c_str(),
                                  (DWORD)value.size() + 1) == ERROR_SUCCESS;
    };
    put_or_remove(L"ProxyServer", proxy);
    put_or_remove(L"ProxyOverride", bypass);
    put_or_remove(L"AutoConfigURL", pac);
    RegCloseKey(key);
    return ok;
}

static int show()
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config;
    memset(&config, 0, sizeof config);
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        say("no user proxy configuration\n");
        return 1;
    }
    std::string text = "auto-detect=" + std::string(config.fAutoDetect ? "yes" : "no") +
                       " pac=" + narrow(config.lpszAutoConfigUrl) +
                       " proxy=" + narrow(config.lpszProxy) +
                       " bypass=" + narrow(config.lpszProxyBypass) + "\n";
    say(text.c_str());
    GlobalFree(config.lpszAutoConfigUrl);
    GlobalFree(config.lpszProxy);
    GlobalFree(config.lpszProxyBypass);
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        say("usage: user_proxy HOST:PORT [BYPASS] | -pac URL | -auto | -none | -show\n");
        return 2;
    }
    std::wstring first = argv[1];
    bool ok;
    if (first == L"-show")
        return show();
    if (first == L"-none")
        ok = write_settings(DIRECT, "", "", "");
    else if (first == L"-auto")
        ok = write_settings(DIRECT | AUTO_DETECT, "", "", "");
    else if (first == L"-pac" && argc >= 3)
        ok = write_settings(DIRECT | PAC_URL, "", "", narrow(argv[2]));
    else if (first[0] != L'-')
        ok = write_settings(DIRECT | NAMED_PROXY, narrow(argv[1]), argc >= 3 ? narrow(argv[2]) : "",
                            "");
    else {
        say("usage: user_proxy HOST:PORT [BYPASS] | -pac URL | -auto | -none | -show\n");
        return 2;
    }
    if (!ok) {
        say("user_proxy: the settings could not be written\n");
        return 1;
    }
    return show();
}
