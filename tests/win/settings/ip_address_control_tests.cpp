// The address control inside a shown top-level window, typed into through real key input.
#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "settings/ip_address_control.h"
#include "ui_test_support.h"

namespace {

struct notify_log {
    int count;
    NMIPADDRESS last;
    const char *correction;  // text the parent writes into the field, when set
};
notify_log g_notes;

LRESULT CALLBACK host_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NOTIFY) {
        NMIPADDRESS *note = (NMIPADDRESS *)lparam;
        if (note->hdr.code == IPN_FIELDCHANGED) {
            g_notes.count++;
            g_notes.last = *note;
            if (g_notes.correction)
                SetWindowTextA(note->hdr.hwndFrom, g_notes.correction);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

class IpAddressControl : public ::testing::Test {
protected:
    HWND host = NULL, control = NULL;

    void SetUp() override
    {
        HINSTANCE instance = GetModuleHandleA(NULL);
        ASSERT_EQ(1, register_ip_address_class(instance));
        ASSERT_EQ(1, register_ip_address_class(instance));  // a second time is no failure
        WNDCLASSA host_class = {};
        host_class.lpfnWndProc = host_proc;
        host_class.hInstance = instance;
        host_class.lpszClassName = "ip_control_test_host";
        RegisterClassA(&host_class);
        host = CreateWindowExA(0, "ip_control_test_host", "ip control test", WS_OVERLAPPEDWINDOW,
                               100, 100, 300, 120, NULL, NULL, instance, NULL);
        control = CreateWindowExA(0, IP_ADDRESS_CLASS, "", WS_CHILD | WS_VISIBLE, 10, 10, 134, 24,
                                  host, (HMENU)SETTINGS_ADDRESS_ID, instance, NULL);
        ASSERT_TRUE(control != NULL);
        MoveWindow(control, 10, 10, 134, 24, TRUE);  // takes the sunken edge into account
        ShowWindow(host, SW_SHOW);
        SetForegroundWindow(host);
        pump_messages(100);
        g_notes = notify_log();
    }
    void TearDown() override
    {
        DestroyWindow(host);
        pump_messages(20);
    }

    HWND field(int i) { return GetDlgItem(control, IP_FIELD_ID_BASE + i); }
    std::string text(int i) { return window_text(field(i)); }
    void focus(int i)
    {
        SetFocus(field(i));
        pump_messages(30);
    }
    void type(WORD key)
    {
        press_key(key);
        pump_messages(80);
    }
    DWORD address()
    {
        DWORD value = 0xDEADBEEF;
        SendMessageA(control, IPM_GETADDRESS, 0, (LPARAM)&value);
        return value;
    }
};

TEST(IpFieldLayout, SplitsTheWidthAndGivesTheRemainderToTheLastField)
{
    RECT f[4], d[3];
    layout_ip_fields(130, 20, 4, f, d);
    const int left[4] = {0, 33, 66, 99}, width[4] = {29, 29, 29, 31};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(left[i], f[i].left);
        EXPECT_EQ(width[i], f[i].right - f[i].left);
        EXPECT_EQ(20, f[i].bottom);
    }
    const int dot_left[3] = {29, 62, 95};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(dot_left[i], d[i].left);
        EXPECT_EQ(4, d[i].right - d[i].left);
    }
}

TEST(IpFieldLayout, TooNarrowForTheDotsGivesEmptyFieldsNeverNegative)
{
    RECT f[4], d[3];
    for (int w : {0, 5, 11, 12, 13}) {
        layout_ip_fields(w, 20, 4, f, d);
        for (int i = 0; i < 4; i++)
            EXPECT_GE(f[i].right - f[i].left, 0) << w;
        EXPECT_LE(f[3].right, w < 12 ? 12 : w) << w;
    }
    layout_ip_fields(100, 20, -3, f, d);  // a font whose overhang exceeds the dot
    EXPECT_EQ(100, f[3].right);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(d[i].left, d[i].right);
}

TEST_F(IpAddressControl, PlacesItsFieldsByTheMeasuredDot)
{
    HDC dc = GetDC(control);
    SIZE extent;
    TEXTMETRICA metrics;
    GetTextExtentPoint32A(dc, ".", 1, &extent);
    GetTextMetricsA(dc, &metrics);
    ReleaseDC(control, dc);
    RECT client, expected[4], dots[3];
    GetClientRect(control, &client);
    EXPECT_EQ(130, client.right);
    layout_ip_fields(client.right, client.bottom, extent.cx - metrics.tmOverhang, expected, dots);
    for (int i = 0; i < 4; i++) {
        RECT actual;
        GetWindowRect(field(i), &actual);
        MapWindowPoints(NULL, control, (POINT *)&actual, 2);
        EXPECT_EQ(expected[i].left, actual.left) << i;
        EXPECT_EQ(expected[i].right, actual.right) << i;
        EXPECT_EQ(client.bottom, actual.bottom) << i;
    }
}

TEST_F(IpAddressControl, SetGetBlankAndClear)
{
    EXPECT_EQ(1, SendMessageA(control, IPM_ISBLANK, 0, 0));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ("", text(i));
    EXPECT_EQ(0u, address());  // empty fields read as 0

    SendMessageA(control, IPM_SETADDRESS, 0, 0xC0A80101);
    EXPECT_EQ("192", text(0));
    EXPECT_EQ("168", text(1));
    EXPECT_EQ("1", text(2));
    EXPECT_EQ("1", text(3));
    EXPECT_EQ(0xC0A80101u, address());

    SendMessageA(control, IPM_CLEARADDRESS, 0, 0);
    SetWindowTextA(field(0), "10");
    SetWindowTextA(field(3), "1");
    EXPECT_EQ(0, SendMessageA(control, IPM_ISBLANK, 0, 0));
    EXPECT_EQ(0x0A000001u, address());

    SetWindowTextA(control, "left over");
    SendMessageA(control, IPM_CLEARADDRESS, 0, 0);
    EXPECT_EQ("", window_text(control));
    EXPECT_EQ(1, SendMessageA(control, IPM_ISBLANK, 0, 0));
    EXPECT_EQ(0, g_notes.count);  // setting and clearing never notify
}

TEST_F(IpAddressControl, TypingAboveTheRangeNotifiesOnceAndClamps)
{
    focus(0);
    type('3');
    type('0');
    EXPECT_EQ(0, g_notes.count);
    type('0');
    EXPECT_EQ(1, g_notes.count);
    EXPECT_EQ(IPN_FIELDCHANGED, (int)g_notes.last.hdr.code);
    EXPECT_EQ(IP_FIELD_ID_BASE, (int)g_notes.last.hdr.idFrom);
    EXPECT_EQ(field(0), g_notes.last.hdr.hwndFrom);
    EXPECT_EQ(0, g_notes.last.iField);
    EXPECT_EQ(0, g_notes.last.iValue);
    EXPECT_EQ("255", text(0));
    EXPECT_EQ(field(0), GetFocus());  // a third digit does not move on
}

TEST_F(IpAddressControl, RangesAndTheParentsCorrection)
{
    SendMessageA(control, IPM_SETRANGE, 1, MAKEIPRANGE(10, 20));
    SendMessageA(control, IPM_SETRANGE, 4, MAKEIPRANGE(0, 1));  // no such field: ignored
    SendMessageA(control, IPM_SETRANGE, (WPARAM)-1, MAKEIPRANGE(0, 1));
    focus(1);
    type('5');
    EXPECT_EQ("10", text(1));
    SendMessageA(control, IPM_SETFOCUS, 3, 0);
    EXPECT_EQ(field(3), GetFocus());
    SendMessageA(control, IPM_SETFOCUS, 9, 0);  // ignored
    EXPECT_EQ(field(3), GetFocus());
    type('9');
    type('9');
    EXPECT_EQ("99", text(3));  // field 3 kept the full range
    g_notes.count = 0;
    g_notes.correction = "200";
    type('9');
    EXPECT_EQ(1, g_notes.count);
    EXPECT_EQ("200", text(3));  // the parent's in-range correction stands
}

TEST_F(IpAddressControl, KeysMoveBetweenFields)
{
    focus(1);
    type(VK_OEM_PERIOD);
    EXPECT_EQ("", text(1));  // the dot is never typed
    EXPECT_EQ(field(2), GetFocus());
    type(VK_DECIMAL);
    EXPECT_EQ(field(3), GetFocus());
    type(VK_OEM_PERIOD);
    EXPECT_EQ(field(3), GetFocus());  // nowhere further to go
    EXPECT_EQ("", text(3));

    SetWindowTextA(field(2), "7");
    focus(2);
    SendMessageA(field(2), EM_SETSEL, 1, 1);
    type(VK_BACK);
    EXPECT_EQ("", text(2));
    EXPECT_EQ(field(1), GetFocus());
    type(VK_LEFT);
    EXPECT_EQ(field(0), GetFocus());
    type(VK_BACK);
    type(VK_LEFT);
    EXPECT_EQ(field(0), GetFocus());
    type(VK_RIGHT);
    EXPECT_EQ(field(1), GetFocus());
    EXPECT_EQ(0, g_notes.count);
}

TEST_F(IpAddressControl, DisabledControlIsPaintedGrey)
{
    HDC dc = GetDC(control);
    auto field_brush = [&] {
        return (HGDIOBJ)SendMessageA(control, WM_CTLCOLOREDIT, (WPARAM)dc, (LPARAM)field(0));
    };
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), field_brush());
    EnableWindow(control, FALSE);
    pump_messages(50);
    EXPECT_EQ(GetStockObject(LTGRAY_BRUSH), field_brush());
    ReleaseDC(control, dc);

    // The gap between fields 0 and 1 belongs to the control's own painting.
    RECT gap;
    GetWindowRect(field(0), &gap);
    MapWindowPoints(NULL, control, (POINT *)&gap, 2);
    UpdateWindow(control);
    dc = GetDC(control);
    COLORREF disabled = GetPixel(dc, gap.right, 1);
    ReleaseDC(control, dc);
    EnableWindow(control, TRUE);
    UpdateWindow(control);
    pump_messages(50);
    dc = GetDC(control);
    COLORREF enabled = GetPixel(dc, gap.right, 1);
    ReleaseDC(control, dc);
    EXPECT_EQ(RGB(192, 192, 192), disabled);
    EXPECT_EQ(RGB(255, 255, 255), enabled);
}

}  // namespace
