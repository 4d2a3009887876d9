#include "box_watcher.h"

#include <cstring>

namespace {

struct box_search {
    HWND main;
    HWND found;
};

BOOL CALLBACK find_box(HWND window, LPARAM param)
{
    box_search *search = (box_search *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    seen_box unused;
    if (pid == GetCurrentProcessId() && window != search->main &&
        read_message_box(window, &unused)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

void watch_boxes(box_watcher *watcher)
{
    HWND answered = nullptr;  // told to close, possibly still on its way out
    while (!watcher->stopping) {
        box_search search = {watcher->main, nullptr};
        EnumWindows(find_box, (LPARAM)&search);
        HWND box = search.found;
        seen_box seen;
        if (box && box != answered && read_message_box(box, &seen)) {
            {
                std::lock_guard<std::mutex> hold(watcher->lock);
                watcher->seen.push_back(seen);
            }
            int id = GetDlgItem(box, IDYES) ? watcher->yes_no_answer : IDOK;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
            answered = box;
        } else if (!box) {
            answered = nullptr;
        }
        Sleep(30);
    }
}

}  // namespace

bool read_message_box(HWND window, seen_box *box)
{
    char cls[32] = {0};
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(window))
        return false;
    char caption[260] = {0}, text[1024] = {0};
    GetWindowTextA(window, caption, sizeof caption);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // the static text of a message box
    box->caption = caption;
    box->text = text;
    return true;
}

box_watcher::~box_watcher()
{
    stop_box_watcher(this);
}

void start_box_watcher(box_watcher *watcher)
{
    watcher->stopping = false;
    watcher->thread = std::thread(watch_boxes, watcher);
}

void stop_box_watcher(box_watcher *watcher)
{
    watcher->stopping = true;
    if (watcher->thread.joinable())
        watcher->thread.join();
}

std::vector<seen_box> boxes_seen(box_watcher *watcher)
{
    std::lock_guard<std::mutex> hold(watcher->lock);
    return watcher->seen;
}
