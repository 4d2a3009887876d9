#include "ui_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <vector>


void pump_messages(int ms)
{
    DWORD until = GetTickCount() + (DWORD)ms;
    do {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while ((int)(until - GetTickCount()) > 0);
}

void press_key(WORD virtual_key)
{
    INPUT keys[2];
    ZeroMemory(keys, sizeof keys);
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = virtual_key;
    keys[0].ki.wScan = keys[1].ki.wScan = (WORD)MapVirtualKeyA(virtual_key, MAPVK_VK_TO_VSC);
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

HWND wait_for_window(const char *class_name, const char *caption, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        HWND found = FindWindowA(class_name, caption);
        if (found && IsWindowVisible(found))
            return found;
        Sleep(20);
    }
    return NULL;
}

bool wait_for_close(HWND window, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        if (!IsWindow(window))
            return true;
        Sleep(20);
    }
    return false;
}

std::string window_text(HWND window)
{
    char text[300] = {0};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Wine takes a Unix path for a Windows one only through drive Z:.
static std::string windows_path(const char *path)
{
    std::string out = path[0] == '/' ? std::string("Z:") + path : std::string(path);
    for (char &c : out)
        if (c == '/')
            c = '\\';
    return out;
}

void save_window_image(HWND window, const char *file_name)
{
    const char *folder = getenv("PAVOSET_ARTIFACTS");
    if (!folder || !*folder)
        return;
    std::string dir = windows_path(folder);
    CreateDirectoryA(dir.c_str(), NULL);

    // The client area only: with no window manager running the caption is never drawn.
    RECT frame;
    GetClientRect(window, &frame);
    MapWindowPoints(window, NULL, (POINT *)&frame, 2);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    if (width <= 0 || height <= 0)
        return;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    GdiFlush();

    DWORD row = ((DWORD)width * 3 + 3) & ~3u;
    BITMAPFILEHEADER file;
    ZeroMemory(&file, sizeof file);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + row * height;
    std::string path = dir + "\\" + file_name;
    FILE *out = fopen(path.c_str(), "wb");
    if (out) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        fwrite(bits, row, height, out);
        fclose(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
}
