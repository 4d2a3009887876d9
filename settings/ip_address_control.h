// The four-field IPv4 address control, class "QXIPADDRESS_CLASSNAME32".
#pragma once
#include <windows.h>

#define IP_ADDRESS_CLASS "QXIPADDRESS_CLASSNAME32"

int register_ip_address_class(HINSTANCE instance);
LRESULT CALLBACK ip_address_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
