// The server settings dialog: default server or a local one (IPv4 address and port).
// It has no resource: the template is written in memory and the controls are placed at
// run time from the measured widths of their texts.
#include "settings/settings_dialog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/field_split.h"
#include "net/server_address.h"
#include "res/resource.h"
#include "res/texts.h"
#include "settings/ip_address_control.h"
#include "settings/registry_store.h"

enum {
    TEMPLATE_TEXT_MAX = 260,  // UTF-16 units per template text, terminator included
    CONTROL_TEXT_SIZE = 260,
    PORT_TEXT_SIZE = 8,  // the port is read as at most 7 characters
    ROW_TOP = 10,
    ROW_HEIGHT = 20,
    ADDRESS_WIDTH = 130,
    PORT_WIDTH = 60,
};

static const DWORD DIALOG_STYLE =
    WS_POPUP | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SETFONT | DS_CENTER;
static const WORD ATOM_BUTTON = 0x0080, ATOM_EDIT = 0x0081, ATOM_STATIC = 0x0082;
static const WORD DIALOG_FONT_POINTS = 9;


// ---------------------------------------------------------------- template writing

static BYTE *template_end(BYTE *template_start)
{
    return template_start + SETTINGS_TEMPLATE_SIZE;
}

static BYTE *put_word(BYTE *position, WORD value)
{
    memcpy(position, &value, sizeof value);
    return position + sizeof value;
}

static BYTE *put_dword(BYTE *position, DWORD value)
{
    memcpy(position, &value, sizeof value);
    return position + sizeof value;
}

// An ANSI text as a terminated UTF-16 string; an empty one when it cannot be converted
// (absent, too long, or no room left).
static BYTE *put_text(BYTE *position, BYTE *end, const char *text)
{
    int room = (int)((end - position) / (int)sizeof(WCHAR));
    if (room > TEMPLATE_TEXT_MAX)
        room = TEMPLATE_TEXT_MAX;
    WCHAR wide[TEMPLATE_TEXT_MAX];
    int units = 0;
    if (text && room > 0)
        units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide, room);
    if (units <= 0) {
        wide[0] = 0;
        units = 1;
    }
    memcpy(position, wide, units * sizeof(WCHAR));
    return position + units * sizeof(WCHAR);
}

static BYTE *align_dword(BYTE *template_start, BYTE *position)
{
    size_t offset = (size_t)(position - template_start);
    return template_start + ((offset + 3) & ~(size_t)3);
}

BYTE *begin_dialog_template(BYTE *buffer, short width, short height)
{
    BYTE *end = template_end(buffer);
    BYTE *p = buffer;
    p = put_dword(p, DIALOG_STYLE);
    p = put_dword(p, 0);  // extended style
    p = put_word(p, 0);   // item count, raised by each item
    p = put_word(p, 0);   // x
    p = put_word(p, 0);   // y
    p = put_word(p, (WORD)width);
    p = put_word(p, (WORD)height);
    p = put_word(p, 0);  // no menu
    p = put_word(p, 0);  // default dialog class
    p = put_text(p, end, TEXT_SETTINGS_DIALOG_CAPTION);
    p = put_word(p, DIALOG_FONT_POINTS);
    p = put_text(p, end, TEXT_DIALOG_FONT);
    return p;
}

// Largest item: fixed part, class name, text and creation-data word, all at full length.
static const size_t ITEM_MAX = 18 + 3 + 2 * (2 * TEMPLATE_TEXT_MAX) + 2;

// class_atom 0 means class_name names the class.
static BYTE *append_item(BYTE *template_start, BYTE *position, WORD class_atom,
                         const char *class_name, const char *text, DWORD style,
                         DWORD extended_style, WORD id)
{
    BYTE *end = template_end(template_start);
    BYTE *p = align_dword(template_start, position);
    if ((size_t)(end - p) < ITEM_MAX)
        return position;  // no room: the item is left out
    WORD count;
    memcpy(&count, template_start + 8, sizeof count);
    put_word(template_start + 8, (WORD)(count + 1));

    p = put_dword(p, style);
    p = put_dword(p, extended_style);
    for (int i = 0; i < 4; i++)
        p = put_word(p, 0);  // placed at run time
    p = put_word(p, id);
    if (class_atom) {
        p = put_word(p, 0xFFFF);
        p = put_word(p, class_atom);
    } else {
        p = put_text(p, end, class_name);
    }
    p = put_text(p, end, text ? text : "");
    p = put_word(p, 0);  // no creation data
    return p;
}

BYTE *append_button_item(BYTE *template_start, BYTE *position, const char *text, DWORD style,
                         WORD id)
{
    return append_item(template_start, position, ATOM_BUTTON, NULL, text,
                       style | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, id);
}

// ---------------------------------------------------------------- layout

int measure_text_width(HWND window, const char *text, int length)
{
    HDC dc = GetDC(window);
    if (!dc)
        return 0;
    HFONT font = (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
    HGDIOBJ old = font ? SelectObject(dc, font) : NULL;
    SIZE extent = {0, 0};
    TEXTMETRICA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    GetTextExtentPoint32A(dc, text ? text : "", text ? length : 0, &extent);
    GetTextMetricsA(dc, &metrics);
    if (old)
        SelectObject(dc, old);
    ReleaseDC(window, dc);
    return extent.cx - metrics.tmOverhang;
}

static int control_text_width(HWND dialog, int id)
{
    char text[CONTROL_TEXT_SIZE] = {0};
    int length = GetDlgItemTextA(dialog, id, text, CONTROL_TEXT_SIZE);
    return measure_text_width(dialog, text, length);
}

static void place(HWND dialog, int id, int x, int width)
{
    MoveWindow(GetDlgItem(dialog, id), x, ROW_TOP, width, ROW_HEIGHT, TRUE);
}

// One row: check box, address, label, port, Apply; 10 pixels apart, 5 before the port.
static void layout_settings_dialog(HWND dialog)
{
    int edge = GetSystemMetrics(SM_CXEDGE);
    int check = GetSystemMetrics(SM_CXMENUCHECK);
    int check_width = check + control_text_width(dialog, SETTINGS_LOCAL_ID) + 2 * edge + 5;
    int label_x = check_width + 160;
    int label_width = control_text_width(dialog, SETTINGS_PORT_LABEL_ID) + 2 * edge + 4;
    int port_x = label_x + label_width + 5;
    place(dialog, SETTINGS_LOCAL_ID, 10, check_width);
    place(dialog, SETTINGS_ADDRESS_ID, check_width + 20, ADDRESS_WIDTH);
    place(dialog, SETTINGS_PORT_LABEL_ID, label_x, label_width);
    place(dialog, SETTINGS_PORT_ID, port_x, PORT_WIDTH);
    place(dialog, SETTINGS_APPLY_ID, port_x + 70,
          control_text_width(dialog, SETTINGS_APPLY_ID) + 2 * edge + 4);
}

// ---------------------------------------------------------------- behaviour

// Leading decimal digits; 0 when there are none. Wraps rather than overflowing.
static unsigned int leading_number(const char *text)
{
    unsigned int value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10u + (unsigned int)(*text++ - '0');
    return value;
}

static void set_port_text(HWND dialog, unsigned int port)
{
    char text[16];
    snprintf(text, sizeof text, "%d", (int)port);
    SetDlgItemTextA(dialog, SETTINGS_PORT_ID, text);
}

// Shows a dotted host in the address control. The host is split as a copy so the shared
// text is never touched; a host that is not four fields (a name from Offline.INI, say)
// shows only the fields that begin with digits, and the rest stay empty.
static void show_host_address(HWND dialog, const char *host)
{
    char copy[SERVER_HOST_SIZE];
    memcpy(copy, host, SERVER_HOST_SIZE - 1);
    copy[SERVER_HOST_SIZE - 1] = 0;

    field_list fields;
    memset(&fields, 0, sizeof fields);
    int count = split_fields(&fields, copy, ".", 4);
    terminate_fields(&fields);
    HWND control = GetDlgItem(dialog, SETTINGS_ADDRESS_ID);

    if (count == 4) {
        DWORD address = 0;
        for (int i = 0; i < 4; i++)
            address = address * 256u + leading_number(fields.starts[i]);
        SendMessageA(control, IPM_SETADDRESS, 0, (LPARAM)address);
        return;
    }
    for (int i = 0; i < count && i < 4; i++) {
        const char *field = fields.starts[i];
        if (!field || field[0] < '0' || field[0] > '9')
            continue;
        char text[16];
        snprintf(text, sizeof text, "%d", (int)(leading_number(field) & 0xFF));
        SetDlgItemTextA(control, IP_FIELD_ID_BASE + i, text);
    }
}

static void init_settings_dialog(HWND dialog)
{
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(MAIN_ICON_ID));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);

    if (strncmp(g_server_address.host, DEFAULT_SERVER_HOST, SERVER_HOST_SIZE) == 0) {
        EnableWindow(GetDlgItem(dialog, SETTINGS_ADDRESS_ID), FALSE);
    } else {
        show_host_address(dialog, g_server_address.host);
        SendDlgItemMessageA(dialog, SETTINGS_LOCAL_ID, BM_SETCHECK, BST_CHECKED, 0);
    }
    set_port_text(dialog, g_server_address.port);
    layout_settings_dialog(dialog);
}

static void toggle_local_server(HWND dialog)
{
    HWND address = GetDlgItem(dialog, SETTINGS_ADDRESS_ID);
    if (IsDlgButtonChecked(dialog, SETTINGS_LOCAL_ID) == BST_CHECKED) {
        EnableWindow(address, TRUE);
    } else {
        set_port_text(dialog, DEFAULT_SERVER_PORT);
        EnableWindow(address, FALSE);
    }
}

// Everything is checked before anything changes, so a refused Apply leaves the address in
// memory as it was.
static void apply_settings(HWND dialog)
{
    char host[SERVER_HOST_SIZE];
    if (IsDlgButtonChecked(dialog, SETTINGS_LOCAL_ID) != BST_CHECKED) {
        snprintf(host, sizeof host, "%s", DEFAULT_SERVER_HOST);
    } else {
        HWND control = GetDlgItem(dialog, SETTINGS_ADDRESS_ID);
        if (SendMessageA(control, IPM_ISBLANK, 0, 0)) {
            MessageBoxA(dialog, TEXT_MISSING_ADDRESS, TEXT_SETTINGS_CAPTION, MB_OK);
            return;
        }
        DWORD address = 0;
        SendMessageA(control, IPM_GETADDRESS, 0, (LPARAM)&address);
        snprintf(host, sizeof host, "%d.%d.%d.%d", (int)(address >> 24),
                 (int)((address >> 16) & 0xFF), (int)((address >> 8) & 0xFF),
                 (int)(address & 0xFF));
    }

    char port[PORT_TEXT_SIZE] = {0};
    GetDlgItemTextA(dialog, SETTINGS_PORT_ID, port, PORT_TEXT_SIZE);
    if (port[0] == 0) {
        MessageBoxA(dialog, TEXT_MISSING_PORT, TEXT_SETTINGS_CAPTION, MB_OK);
        return;
    }

    memcpy(g_server_address.host, host, sizeof host);
    g_server_address.port = (unsigned short)atoi(port);  // above 65535 keeps the low 16 bits
    write_setting(SETTING_IP, g_server_address.host);
    write_setting(SETTING_PORT, port);
    EndDialog(dialog, SETTINGS_APPLIED);
}

INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        init_settings_dialog(dialog);
        return FALSE;  // the focus is left where the system puts it
    case WM_SIZE:
        layout_settings_dialog(dialog);
        return FALSE;
    case WM_COMMAND:
        // IDOK and IDCANCEL (Enter and Escape) fall through to nothing: only Apply and the
        // close box end the dialog.
        switch (LOWORD(wparam)) {
        case SETTINGS_LOCAL_ID:
            toggle_local_server(dialog);
            break;
        case SETTINGS_APPLY_ID:
            apply_settings(dialog);
            break;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, SETTINGS_CLOSED);
        return FALSE;
    }
    return FALSE;
}

INT_PTR run_settings_dialog(HWND owner)
{
    BYTE *buffer = (BYTE *)calloc(1, SETTINGS_TEMPLATE_SIZE);
    if (!buffer)
        return -1;
    HINSTANCE instance = GetModuleHandleA(NULL);
    register_ip_address_class(instance);

    BYTE *p = begin_dialog_template(buffer, 280, 30);
    p = append_item(buffer, p, 0, IP_ADDRESS_CLASS, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0,
                    SETTINGS_ADDRESS_ID);
    p = append_item(buffer, p, ATOM_STATIC, NULL, TEXT_SETTINGS_PORT,
                    WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE, 0, SETTINGS_PORT_LABEL_ID);
    p = append_item(buffer, p, ATOM_EDIT, NULL, "",
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL,
                    WS_EX_STATICEDGE, SETTINGS_PORT_ID);
    p = append_button_item(buffer, p, TEXT_SETTINGS_APPLY, BS_FLAT, SETTINGS_APPLY_ID);
    append_button_item(buffer, p, TEXT_SETTINGS_USE_LOCAL, BS_AUTOCHECKBOX, SETTINGS_LOCAL_ID);

    INT_PTR result =
        DialogBoxIndirectParamA(instance, (LPCDLGTEMPLATEA)buffer, owner, settings_dialog_proc, 0);
    free(buffer);
    return result;
}
