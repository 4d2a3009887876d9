// trust_ca CERTFILE   (in a throwaway Wine prefix: wine trust_ca.exe Z:\path\ca.pem)
// Adds the certificate in CERTFILE (PEM or DER) to the local machine's "Root" store, so the
// programs of this prefix, WinHTTP included, trust servers it signed. Made for the tests' own
// prefixes: the host machine's trust store is never touched. Prints "trusted" on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

static void say(const char *text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

static bool read_file(const wchar_t *path, std::vector<BYTE> *bytes)
{
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 20);
    if (ok) {
        bytes->resize((size_t)size.QuadPart);
        DWORD got = 0;
        ok = ReadFile(file, bytes->data(), (DWORD)bytes->size(), &got, nullptr) &&
             got == bytes->size();
    }
    CloseHandle(file);
    return ok;
}

// PEM's base64 between its markers, or the bytes as they are (DER).
static bool der_of(const std::vector<BYTE> &file, std::vector<BYTE> *der)
{
    DWORD size = 0;
    if (CryptStringToBinaryA((const char *)file.data(), (DWORD)file.size(),
                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) &&
        size > 0) {
        der->resize(size);
        return CryptStringToBinaryA((const char *)file.data(), (DWORD)file.size(),
                                    CRYPT_STRING_BASE64HEADER, der->data(), &size, nullptr,
                                    nullptr) != FALSE;
    }
    *der = file;
    return true;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        say("usage: trust_ca CERTFILE (PEM or DER)\n");
        return 2;
    }
    std::vector<BYTE> file, der;
    if (!read_file(argv[1], &file) || !der_of(file, &der)) {
        say("trust_ca: cannot read the certificate file\n");
        return 1;
    }
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) {
        say("trust_ca: cannot open the local machine's Root store\n");
        return 1;
    }
    BOOL added =
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), (DWORD)der.size(),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(root, 0);
    if (!added) {
        char text[96];
        snprintf(text, sizeof text, "trust_ca: not added (error %lu)\n", GetLastError());
        say(text);
        return 1;
    }
    say("trusted\n");
    return 0;
}
