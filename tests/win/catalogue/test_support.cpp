#include "test_support.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "app/catalogue_rows.h"
#include "catalogue/catalogue.h"
#include "catalogue/field_split.h"
#include "catalogue/file_checksum.h"
#include "catalogue/local_comparison.h"
#include "net/net_timeouts.h"
#include "net/text/text_channel.h"
#include "res/resource.h"
#include "settings/server_address.h"

// ---------------------------------------------------------------- process set-up

namespace {
struct catalogue_environment : testing::Environment {
    void SetUp() override
    {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
        INITCOMMONCONTROLSEX controls = {sizeof controls,
                                         ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        g_socket_mutex = CreateMutexA(nullptr, FALSE, nullptr);
        // Faulty peers are found out in well under a second on loopback.
        g_net_timeouts.text_ms = 800;
        g_net_timeouts.connect_retry_ms = 50;
        g_net_timeouts.datagram_ms = 800;
        g_net_timeouts.datagram_tries = 2;
        g_net_timeouts.file_connect_ms = 800;
        g_net_timeouts.file_receive_ms = 800;
        g_receive_buffer = (char *)calloc(RECEIVE_BUFFER_SIZE, 1);
    }
    void TearDown() override
    {
        close_text_channel();
        free(g_receive_buffer);
        g_receive_buffer = nullptr;
        WSACleanup();
    }
};
testing::Environment *const g_environment =
    testing::AddGlobalTestEnvironment(new catalogue_environment);
}  // namespace

// ---------------------------------------------------------------- files

std::string read_whole_file(const char *path)
{
    std::string bytes;
    FILE *f = fopen(path, "rb");
    if (!f)
        return bytes;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, got);
    fclose(f);
    return bytes;
}

bool write_whole_file(const char *path, const std::string &bytes)
{
    FILE *f = fopen(path, "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool path_exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        std::string pattern = std::string(path) + "\\*";
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, ".."))
                    continue;
                remove_tree((std::string(path) + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path);
    } else {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }
}

void reset_install_folder()
{
    remove_tree(INSTALL_FOLDER_TEXT);
    CreateDirectoryA(INSTALL_FOLDER_TEXT, nullptr);
}

std::vector<std::string> install_folder_names()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(INSTALL_FOLDER "*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

uint32_t crc_of(const std::string &bytes)
{
    return crc32_update(0, bytes.data(), bytes.size());
}

std::string make_bytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = (char)(x & 0xFF);
    }
    return bytes;
}

uint64_t last_write_time(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

std::string record_for(const std::string &name, const std::string &bytes, const std::string &low,
                       const std::string &high)
{
    return name + "^|" + std::to_string(crc_of(bytes)) + "^|" + std::to_string(bytes.size()) +
           "^|" + low + "^|" + high;
}

void load_catalogue(const std::string &records_text)
{
    std::vector<char> text(records_text.begin(), records_text.end());
    text.push_back(0);
    field_list records;
    split_records(&records, text.data());
    build_catalogue(&records);
}

// ---------------------------------------------------------------- main window

test_window create_test_window()
{
    test_window w = {};
    w.main = CreateWindowExA(0, "STATIC", "catalogue tests", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    w.list = CreateWindowExA(0, WC_LISTVIEWA, "List1", WS_CHILD | LVS_REPORT, 10, 40, 660, 200,
                             w.main, (HMENU)ID_LIBRARY_LIST, nullptr, nullptr);
    w.label = CreateWindowExA(0, "STATIC", "", WS_CHILD, 10, 250, 600, 20, w.main,
                              (HMENU)ID_CURRENT_FILE, nullptr, nullptr);
    CreateWindowExA(0, "STATIC", INSTALL_FOLDER_TEXT, WS_CHILD, 10, 10, 300, 20, w.main,
                    (HMENU)ID_FOLDER_TEXT, nullptr, nullptr);
    w.progress = CreateWindowExA(0, PROGRESS_CLASSA, "Progress1", WS_CHILD, 10, 300, 600, 8, w.main,
                                 (HMENU)ID_PROGRESS_BAR, nullptr, nullptr);
    for (int c = 0; c < 6; ++c) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 100;
        column.pszText = const_cast<char *>("c");
        SendMessageA(w.list, LVM_INSERTCOLUMNA, c, (LPARAM)&column);
    }
    return w;
}

void destroy_test_window(test_window *w)
{
    if (w->main)
        DestroyWindow(w->main);
    *w = test_window{};
}

void fill_rows(const test_window &w)
{
    SendMessageA(w.list, LVM_DELETEALLITEMS, 0, 0);
    fill_catalogue_rows(w.list);  // the program's own
}

std::string cell(const test_window &w, int row, int column)
{
    char text[300] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(w.list, LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return text;
}

namespace {
struct box_scan {
    std::vector<std::string> *texts;
    std::vector<HWND> *closed;  // boxes already told to close, still on their way out
};

BOOL CALLBACK close_message_box(HWND window, LPARAM context)
{
    char class_name[32] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    if (strcmp(class_name, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    char caption[300] = "", text[600] = "";
    GetWindowTextA(window, caption, sizeof caption);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    auto *scan = reinterpret_cast<box_scan *>(context);
    for (HWND closed : *scan->closed)
        if (closed == window)
            return TRUE;
    scan->closed->push_back(window);
    scan->texts->push_back(std::string(caption) + "|" + text);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

DWORD WINAPI run_function(void *context)
{
    (*static_cast<const std::function<void()> *>(context))();
    return 0;
}
}  // namespace

std::vector<std::string> run_pass(const std::function<void()> &fn)
{
    std::vector<std::string> texts;
    std::vector<HWND> closed;
    DWORD thread_id = 0;
    HANDLE thread = CreateThread(nullptr, 0, run_function, const_cast<std::function<void()> *>(&fn),
                                 0, &thread_id);
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (woke == WAIT_OBJECT_0)
            break;
        box_scan scan = {&texts, &closed};
        EnumThreadWindows(thread_id, close_message_box, (LPARAM)&scan);
    }
    CloseHandle(thread);
    return texts;
}

// ---------------------------------------------------------------- scripted peers

SOCKET listen_tcp(uint16_t *port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(s, (sockaddr *)&address, sizeof address);
    listen(s, 8);
    int length = sizeof address;
    getsockname(s, (sockaddr *)&address, &length);
    *port = ntohs(address.sin_port);
    return s;
}

bool send_all(SOCKET s, const void *data, size_t length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        int sent = send(s, p, (int)(length > 65536 ? 65536 : length), 0);
        if (sent <= 0)
            return false;
        p += sent;
        length -= (size_t)sent;
    }
    return true;
}

bool read_request(SOCKET s, std::string *request)
{
    request->clear();
    char c;
    for (;;) {
        if (recv(s, &c, 1, 0) != 1)
            return false;
        if (c == 0)
            return true;
        request->push_back(c);
    }
}

void start_text_peer(text_peer *peer, std::function<void(SOCKET, text_peer *)> serve)
{
    peer->listener = listen_tcp(&peer->port);
    SOCKET listener = peer->listener;
    peer->acceptor = std::thread([peer, listener, serve]() {
        for (;;) {
            SOCKET s = accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            std::lock_guard<std::mutex> hold(peer->lock);
            int number = ++peer->accepted;
            peer->connections.emplace_back([peer, s, serve, number]() {
                DWORD timeout = 5000;
                setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
                if (number > peer->drop_connections)
                    serve(s, peer);
                closesocket(s);
            });
        }
    });
}

void stop_text_peer(text_peer *peer)
{
    closesocket(peer->listener);
    if (peer->acceptor.joinable())
        peer->acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> hold(peer->lock);
        connections.swap(peer->connections);
    }
    for (auto &t : connections)
        t.join();
}

std::function<void(SOCKET, text_peer *)> text_file_server(const std::string &catalogue_answer,
                                                          std::vector<text_file_rule> rules)
{
    return [catalogue_answer, rules](SOCKET s, text_peer *peer) {
        std::string request;
        while (read_request(s, &request)) {
            {
                std::lock_guard<std::mutex> hold(peer->lock);
                peer->requests.push_back(request);
            }
            if (request == "#REQ:UPDATELIST") {
                send_all(s, catalogue_answer.data(), catalogue_answer.size());
                continue;
            }
            const std::string prefix = "#REQ:FTP_RCV:";
            const text_file_rule *rule = nullptr;
            if (request.compare(0, prefix.size(), prefix) == 0)
                for (const auto &r : rules)
                    if (r.name == request.substr(prefix.size()))
                        rule = &r;
            if (!rule || rule->mode == text_file_rule::REFUSE) {
                static const char refused[] = "#EXL:ERR:no such file";
                send_all(s, refused, sizeof refused);
                continue;
            }
            const std::string &bytes = rule->announce_bytes;
            std::string answer = "#EXL: OK:" + rule->name + "~|4096";
            if (rule->mode != text_file_rule::TWO_FIELDS)
                answer += "~|" + std::to_string(bytes.size());
            answer.push_back('\0');
            if (rule->mode == text_file_rule::TWO_FIELDS) {
                send_all(s, answer.data(), answer.size());
                continue;
            }
            if (rule->mode == text_file_rule::PADDED) {
                answer.resize(4096, '\0');
                send_all(s, answer.data(), answer.size());
                send_all(s, bytes.data(), bytes.size());
                continue;
            }
            if (rule->mode == text_file_rule::SHORT_THEN_DATA) {
                send_all(s, "#EXL:", 6);
                send_all(s, bytes.data(), bytes.size());
                continue;
            }
            if (rule->mode == text_file_rule::CLOSE_HALFWAY) {
                send_all(s, answer.data(), answer.size());
                send_all(s, bytes.data(), bytes.size() / 2);
                return;
            }
            // The answer and the first bytes travel together, as a busy server sends them.
            std::string first = answer + bytes.substr(0, 1000);
            send_all(s, first.data(), first.size());
            if (bytes.size() > 1000)
                send_all(s, bytes.data() + 1000, bytes.size() - 1000);
        }
    };
}

void point_client_at(uint16_t port)
{
    strcpy(g_server_address.host, "127.0.0.1");
    g_server_address.port = port;
}

std::string env_text(const char *name)
{
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return "";
    return value;
}

// ---------------------------------------------------------------- registry

void delete_settings_tree()
{
    // SETTINGS_KEY without its last two parts: the program's own key.
    std::string own = SETTINGS_KEY;
    own.resize(own.rfind('\\'));
    own.resize(own.rfind('\\'));
    RegDeleteTreeA(HKEY_CURRENT_USER, own.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, own.c_str());
}

bool raw_setting(const char *name, std::string *bytes, DWORD *type)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char data[1024];
    DWORD length = sizeof data;
    LONG status = RegQueryValueExA(key, name, nullptr, type, (BYTE *)data, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    bytes->assign(data, length);
    return true;
}

void put_raw_setting(const char *name, DWORD type, const void *data, DWORD length)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, (const BYTE *)data, length);
    RegCloseKey(key);
}
