// The four-field IPv4 address control, class "QXIPADDRESS_CLASSNAME32".
// Driven with the system's IP address messages (IPM_* in <commctrl.h>); reports an
// out-of-range field to its parent with WM_NOTIFY / IPN_FIELDCHANGED.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "res/resource.h"  // IP_FIELD_ID_BASE, the fields' ids

#define IP_ADDRESS_CLASS "QXIPADDRESS_CLASSNAME32"

enum { IP_FIELD_COUNT = 4 };

int register_ip_address_class(HINSTANCE instance);
LRESULT CALLBACK ip_address_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Where the four fields and the three dots go in a client area of width x height, with
// dots dot_width pixels wide. The last field takes the remainder; a width too small for
// the dots gives empty fields, never negative ones.
void layout_ip_fields(int width, int height, int dot_width, RECT fields[IP_FIELD_COUNT],
                      RECT dots[IP_FIELD_COUNT - 1]);
