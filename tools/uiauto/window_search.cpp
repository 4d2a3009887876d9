#include "window_search.h"

#include <vector>

#include "res/resource.h"
#include "res/texts.h"

namespace {

// L"" widens the program's own UTF-8 texts.
const wchar_t MAIN_TITLE[] = L"" TEXT_MAIN_CAPTION;
const wchar_t SETTINGS_CAPTION[] = L"" TEXT_SETTINGS_DIALOG_CAPTION;
const int MESSAGE_BOX_TEXT_ID = 0xFFFF;
const UINT SEND_TIMEOUT_MS = 3000;

BOOL CALLBACK collect_window(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND> *>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> top_level_windows()
{
    std::vector<HWND> found;
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool is_visible_dialog(HWND window)
{
    return IsWindowVisible(window) && class_name(window) == L"#32770";
}

bool starts_with(const std::wstring &text, const std::wstring &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool has_child(HWND window, int id, const wchar_t *cls)
{
    HWND child = GetDlgItem(window, id);
    if (!child)
        return false;
    return !cls || _wcsicmp(class_name(child).c_str(), cls) == 0;
}

bool looks_like_main(HWND window)
{
    return has_child(window, ID_LIBRARY_LIST, L"SysListView32") &&
           has_child(window, ID_MESSAGE_LINE, nullptr);
}

bool looks_like_settings(HWND window)
{
    return has_child(window, SETTINGS_ADDRESS_ID, nullptr) &&
           has_child(window, SETTINGS_PORT_ID, nullptr);
}

}  // namespace

std::wstring class_name(HWND window)
{
    wchar_t name[256] = {0};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring window_text(HWND window)
{
    // WM_GETTEXT reaches an edit control's live text; the time-out keeps a busy program
    // (its refresh blocks the user-interface thread) from hanging the driver.
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                            &length)) {
        std::vector<wchar_t> buffer(length + 2, 0);
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                                reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                                SEND_TIMEOUT_MS, &copied))
            return std::wstring(buffer.data());
    }
    wchar_t fallback[1024] = {0};
    GetWindowTextW(window, fallback, 1024);
    return fallback;
}

std::wstring message_box_text(HWND box)
{
    HWND text = GetDlgItem(box, MESSAGE_BOX_TEXT_ID);
    return text ? window_text(text) : std::wstring();
}

HWND find_main_window(const std::wstring &title_prefix)
{
    HWND by_layout = nullptr;
    for (HWND window : top_level_windows()) {
        if (!IsWindowVisible(window))
            continue;
        if (!title_prefix.empty()) {
            wchar_t title[512] = {0};
            GetWindowTextW(window, title, 512);
            if (starts_with(title, title_prefix))
                return window;
            continue;
        }
        if (class_name(window) != L"#32770")
            continue;
        wchar_t title[512] = {0};
        GetWindowTextW(window, title, 512);
        if (starts_with(title, MAIN_TITLE))
            return window;
        if (!by_layout && looks_like_main(window))
            by_layout = window;
    }
    return by_layout;
}

HWND find_settings_dialog()
{
    for (HWND window : top_level_windows()) {
        if (!is_visible_dialog(window))
            continue;
        wchar_t title[512] = {0};
        GetWindowTextW(window, title, 512);
        if (SETTINGS_CAPTION == std::wstring(title) || looks_like_settings(window))
            return window;
    }
    return nullptr;
}

HWND find_message_box(const std::wstring &caption)
{
    for (HWND window : top_level_windows()) {
        if (!is_visible_dialog(window))
            continue;
        if (!GetDlgItem(window, MESSAGE_BOX_TEXT_ID))
            continue;
        if (looks_like_main(window) || looks_like_settings(window))
            continue;
        if (!caption.empty()) {
            wchar_t title[512] = {0};
            GetWindowTextW(window, title, 512);
            if (caption != title)
                continue;
        }
        return window;
    }
    return nullptr;
}
