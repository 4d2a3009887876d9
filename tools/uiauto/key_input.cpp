#include "key_input.h"

namespace {

bool focus_control(HWND control)
{
    HWND top = GetAncestor(control, GA_ROOT);
    DWORD target_thread = GetWindowThreadProcessId(control, nullptr);
    DWORD own_thread = GetCurrentThreadId();
    // Sharing the input state is the only way another process may set the focus.
    bool attached = AttachThreadInput(own_thread, target_thread, TRUE) != 0;
    SetForegroundWindow(top);
    SetActiveWindow(top);
    SetFocus(control);
    bool focused = GetFocus() == control;
    if (attached)
        AttachThreadInput(own_thread, target_thread, FALSE);
    return focused;
}

}  // namespace

bool press_key_in(HWND control, WORD virtual_key)
{
    if (!focus_control(control))
        return false;
    INPUT keys[2] = {};
    keys[0].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = virtual_key;
    keys[1] = keys[0];
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, keys, sizeof(INPUT)) == 2;
}

void post_key_to(HWND control, WORD virtual_key)
{
    UINT scan = MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (LPARAM)(scan << 16);
    LPARAM up = down | (LPARAM)(1u << 30) | (LPARAM)(1u << 31);
    PostMessageW(control, WM_KEYDOWN, virtual_key, down);
    PostMessageW(control, WM_KEYUP, virtual_key, up);
}
