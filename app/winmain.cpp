// Process entry: the few process-wide resources, the "-ip" option, and the main window
// as a modal dialog whose loop is the program's loop.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <cstring>

#include "app/app_state.h"
#include "app/ip_option.h"
#include "app/main_window.h"
#include "catalogue/install_lock.h"
#include "catalogue/install_steps.h"
#include "net/text/text_channel.h"
#include "settings/server_address.h"

static const char HOST_TOO_LONG[] =
    "서버 주소가 너무 깁니다(최대 63자). -ip로 지정한 주소는 무시됩니다.";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    g_socket_mutex = CreateMutexA(nullptr, FALSE, nullptr);

    WSADATA winsock;
    if (WSAStartup(0x0101, &winsock) != 0) {
        if (g_socket_mutex) {
            WaitForSingleObject(g_socket_mutex, INFINITE);
            ReleaseMutex(g_socket_mutex);
        }
        WSACleanup();
        return -1;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_instance = instance;

    switch (read_ip_option(command_line, g_cmdline_host, SERVER_HOST_SIZE)) {
    case IP_OPTION_STORED:
        memcpy(g_server_address.host, g_cmdline_host, SERVER_HOST_SIZE);
        g_cmdline_address_flag = 1;
        break;
    case IP_OPTION_TOO_LONG:
        MessageBoxA(nullptr, HOST_TOO_LONG, "Pavoset.exe", MB_OK | MB_ICONWARNING);
        break;
    default:
        break;
    }

    // A run killed mid-install left its staging files; none is ours to keep unless another
    // instance is installing right now.
    release_install_lock(begin_install_pass());

    DialogBoxParamA(instance, MAKEINTRESOURCEA(MAIN_DIALOG_ID), nullptr, main_window_proc, 0);

    WSACleanup();
    if (g_socket_mutex)
        CloseHandle(g_socket_mutex);
    return 0;
}
