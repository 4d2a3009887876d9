// The IPv4 address control: four subclassed "Edit" fields with painted dots between them.
#include "settings/ip_address_control.h"

#include <stdio.h>
#include <stdlib.h>

struct ip_address_state {
    HWND fields[IP_FIELD_COUNT];
    RECT dots[IP_FIELD_COUNT - 1];
    int dot_width;
    unsigned short ranges[IP_FIELD_COUNT];  // high byte largest, low byte smallest
    int enabled;
};

enum { FULL_RANGE = 0xFF00, FIELD_TEXT_SIZE = 16 };

static ip_address_state *state_of(HWND control)
{
    return (ip_address_state *)GetWindowLongPtrA(control, GWLP_USERDATA);
}

// Leading decimal digits as the C library reads them, but wrapping instead of overflowing:
// a field can be given any text through SetWindowText, and callers keep only the low bits.
static unsigned int field_number(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    int negative = 0;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    unsigned int value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10u + (unsigned int)(*text++ - '0');
    return negative ? 0u - value : value;
}

static unsigned int read_field(HWND field)
{
    char text[FIELD_TEXT_SIZE] = {0};
    GetWindowTextA(field, text, FIELD_TEXT_SIZE);
    return field_number(text);
}

static int field_is_empty(HWND field)
{
    char text[FIELD_TEXT_SIZE] = {0};
    GetWindowTextA(field, text, FIELD_TEXT_SIZE);
    return text[0] == 0;
}

static void set_field_number(HWND field, unsigned int value)
{
    char text[FIELD_TEXT_SIZE];
    snprintf(text, sizeof text, "%d", (int)value);
    SetWindowTextA(field, text);
}

void layout_ip_fields(int width, int height, int dot_width, RECT fields[IP_FIELD_COUNT],
                      RECT dots[IP_FIELD_COUNT - 1])
{
    if (dot_width < 0)
        dot_width = 0;
    if (height < 0)
        height = 0;
    int room = width - 3 * dot_width;
    if (room < 0)
        room = 0;  // no room for the fields: they get none, never a negative width
    int w = room / 4;
    int x = 0;
    for (int i = 0; i < 3; i++) {
        SetRect(&fields[i], x, 0, x + w, height);
        x += w;
        SetRect(&dots[i], x, 0, x + dot_width, height);
        x += dot_width;
    }
    SetRect(&fields[3], x, 0, x + room - 3 * w, height);
}

static void focus_field(ip_address_state *state, int index)
{
    if (index >= 0 && index < IP_FIELD_COUNT)
        SetFocus(state->fields[index]);
}

// Tells the control's parent that field `index` holds a value outside its range.
static void notify_field_changed(HWND field, int index)
{
    HWND control = GetParent(field);
    NMIPADDRESS note;
    ZeroMemory(&note, sizeof note);
    note.hdr.hwndFrom = field;
    note.hdr.idFrom = IP_FIELD_ID_BASE + index;
    note.hdr.code = IPN_FIELDCHANGED;
    SendMessageA(GetParent(control), WM_NOTIFY, (WPARAM)(IP_FIELD_ID_BASE + index), (LPARAM)&note);
}

// Corrects a field whose value left its range, after giving the parent the first chance.
static void check_field_range(ip_address_state *state, HWND field, int index)
{
    unsigned int range = state->ranges[index];
    unsigned int smallest = range & 0xFF, largest = range >> 8;
    unsigned int value = read_field(field) & 0xFFFF;
    if (value >= smallest && value <= largest)
        return;
    notify_field_changed(field, index);
    value = read_field(field) & 0xFFFF;
    if (value > largest)
        set_field_number(field, largest);
    else if (value < smallest)
        set_field_number(field, smallest);
}

static LRESULT CALLBACK ip_field_proc(HWND field, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR subclass_id, DWORD_PTR reference)
{
    int index = (int)reference;
    // The dot only moves between fields; it is never typed into one.
    if (message == WM_CHAR && wparam == '.')
        return 0;
    if (message != WM_KEYUP)
        return DefSubclassProc(field, message, wparam, lparam);

    ip_address_state *state = state_of(GetParent(field));
    if (state && index >= 0 && index < IP_FIELD_COUNT) {
        switch (wparam) {
        case VK_RETURN:
        case VK_TAB:
        case VK_RIGHT:
        case VK_DECIMAL:
        case VK_OEM_PERIOD:
            if (index < 3)
                focus_field(state, index + 1);
            break;
        case VK_LEFT:
            if (index > 0)
                focus_field(state, index - 1);
            break;
        case VK_BACK:
            // The character is already gone when the key comes up.
            if (index > 0 && field_is_empty(field))
                focus_field(state, index - 1);
            break;
        default:
            check_field_range(state, field, index);
            break;
        }
    }
    return DefSubclassProc(field, message, wparam, lparam);
}

static int measure_dot(HWND control)
{
    HDC dc = GetDC(control);
    if (!dc)
        return 0;
    HFONT font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    HGDIOBJ old = font ? SelectObject(dc, font) : NULL;
    SIZE extent = {0, 0};
    TEXTMETRICA metrics;
    ZeroMemory(&metrics, sizeof metrics);
    GetTextExtentPoint32A(dc, ".", 1, &extent);
    GetTextMetricsA(dc, &metrics);
    if (old)
        SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent.cx - metrics.tmOverhang;
}

static LRESULT on_create(HWND control)
{
    ip_address_state *state = (ip_address_state *)calloc(1, sizeof *state);
    if (!state)
        return -1;  // creation fails cleanly rather than running without state
    state->enabled = 1;
    SetWindowLongPtrA(control, GWLP_USERDATA, (LONG_PTR)state);
    SetWindowLongA(control, GWL_EXSTYLE, GetWindowLongA(control, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(control, GWLP_HINSTANCE);
    for (int i = 0; i < IP_FIELD_COUNT; i++) {
        // ES_AUTOHSCROLL: a narrow field in a wide font would otherwise refuse its third digit.
        HWND field = CreateWindowExA(
            0, "Edit", "", WS_CHILD | WS_VISIBLE | ES_NUMBER | ES_CENTER | ES_AUTOHSCROLL, 0, 0, 0,
            0, control, (HMENU)(INT_PTR)(IP_FIELD_ID_BASE + i), instance, NULL);
        state->fields[i] = field;
        state->ranges[i] = FULL_RANGE;
        if (!field)
            continue;
        SendMessageA(field, EM_LIMITTEXT, 3, 0);
        SetWindowSubclass(field, ip_field_proc, IP_FIELD_ID_BASE + i, (DWORD_PTR)i);
    }
    state->dot_width = measure_dot(control);
    // The new edge only counts once the frame is recalculated; without this a control
    // created at its final size would lay its fields out under the border.
    SetWindowPos(control, NULL, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return 0;
}

static void on_size(HWND control, int width, int height)
{
    ip_address_state *state = state_of(control);
    if (!state || width == 0 || height == 0)
        return;
    RECT fields[IP_FIELD_COUNT];
    layout_ip_fields(width, height, state->dot_width, fields, state->dots);
    for (int i = 0; i < IP_FIELD_COUNT; i++)
        MoveWindow(state->fields[i], fields[i].left, fields[i].top,
                   fields[i].right - fields[i].left, fields[i].bottom - fields[i].top, FALSE);
    InvalidateRect(control, NULL, TRUE);
}

static void paint_control(HWND control, HDC dc)
{
    ip_address_state *state = state_of(control);
    if (!dc || !state)
        return;
    int saved = SaveDC(dc);  // a printing caller keeps its own DC settings
    RECT client;
    GetClientRect(control, &client);
    SetBkMode(dc, TRANSPARENT);
    if (state->enabled) {
        FillRect(dc, &client, (HBRUSH)GetStockObject(WHITE_BRUSH));
    } else {
        FillRect(dc, &client, (HBRUSH)GetStockObject(LTGRAY_BRUSH));
        SetTextColor(dc, RGB(100, 100, 100));
    }
    for (int i = 0; i < IP_FIELD_COUNT - 1; i++) {
        RECT dot = state->dots[i];
        DrawTextA(dc, ".", 1, &dot, DT_SINGLELINE | DT_BOTTOM | DT_CENTER);
    }
    RestoreDC(dc, saved);
}

static void on_paint(HWND control)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control, &paint);
    paint_control(control, dc);
    EndPaint(control, &paint);
}

static LRESULT field_colour(ip_address_state *state, HDC dc)
{
    if (!state || state->enabled == 1)
        return (LRESULT)GetStockObject(WHITE_BRUSH);
    // The digits' own background matches the grey so a disabled field reads as one block.
    if (dc)
        SetBkColor(dc, RGB(192, 192, 192));
    return (LRESULT)GetStockObject(LTGRAY_BRUSH);
}

LRESULT CALLBACK ip_address_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam)
{
    ip_address_state *state = state_of(control);
    switch (message) {
    case WM_CREATE:
        return on_create(control);
    case WM_DESTROY:
        SetWindowLongPtrA(control, GWLP_USERDATA, 0);
        free(state);
        return 0;
    case WM_SIZE:
        on_size(control, LOWORD(lparam), HIWORD(lparam));
        return 0;
    case WM_ENABLE:
        if (state) {
            state->enabled = (int)wparam;
            InvalidateRect(control, NULL, TRUE);
        }
        return 0;
    case WM_PAINT:
        on_paint(control);
        return 0;
    case WM_PRINTCLIENT:  // so the control shows up in window images (PrintWindow)
        paint_control(control, (HDC)wparam);
        return 0;
    case WM_SETFONT:
        // The digits use the font the dialog gives the control, so three of them fit a field.
        if (state)
            for (int i = 0; i < IP_FIELD_COUNT; i++)
                SendMessageA(state->fields[i], WM_SETFONT, wparam, lparam);
        return DefWindowProcA(control, message, wparam, lparam);
    case WM_CTLCOLOREDIT:
        return field_colour(state, (HDC)wparam);
    case IPM_CLEARADDRESS:
        if (state)
            for (int i = 0; i < IP_FIELD_COUNT; i++)
                SetWindowTextA(state->fields[i], "");
        SetWindowTextA(control, "");
        InvalidateRect(control, NULL, TRUE);
        return 0;
    case IPM_SETADDRESS:
        if (state)
            for (int i = 0; i < IP_FIELD_COUNT; i++)
                set_field_number(state->fields[i], ((DWORD)lparam >> (24 - 8 * i)) & 0xFF);
        return 0;
    case IPM_GETADDRESS: {
        if (!state || !lparam)
            return 0;
        DWORD address = 0;
        for (int i = 0; i < IP_FIELD_COUNT; i++)
            address = (address << 8) | (read_field(state->fields[i]) & 0xFF);
        *(DWORD *)lparam = address;
        return 0;
    }
    case IPM_SETRANGE:
        if (state && wparam < IP_FIELD_COUNT)
            state->ranges[wparam] = (unsigned short)lparam;
        return 0;
    case IPM_SETFOCUS:
        if (state && wparam < IP_FIELD_COUNT)
            SetFocus(state->fields[wparam]);
        return 0;
    case IPM_ISBLANK:
        if (!state)
            return 1;
        for (int i = 0; i < IP_FIELD_COUNT; i++)
            if (!field_is_empty(state->fields[i]))
                return 0;
        return 1;
    }
    return DefWindowProcA(control, message, wparam, lparam);
}

int register_ip_address_class(HINSTANCE instance)
{
    WNDCLASSEXA known;
    known.cbSize = sizeof known;
    if (GetClassInfoExA(instance, IP_ADDRESS_CLASS, &known))
        return 1;

    WNDCLASSEXA window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = ip_address_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)GetStockObject(NULL_BRUSH);
    window_class.lpszClassName = IP_ADDRESS_CLASS;
    return RegisterClassExA(&window_class) ? 1 : 0;
}
