// The settings dialog run modally, driven from a helper thread as a user would drive it.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <thread>

#include "net/server_address.h"
#include "res/resource.h"
#include "res/texts.h"
#include "settings/ip_address_control.h"
#include "settings/settings_dialog.h"
#include "settings_registry.h"
#include "ui_test_support.h"

namespace {

const char DIALOG_CLASS[] = "#32770";
// Generous: without a window manager, Wine takes about two seconds to take a window down.
const int PATIENCE_MS = 10000;

void set_address(const char *host, unsigned short port)
{
    memset(g_server_address.host, 0, sizeof g_server_address.host);
    strcpy(g_server_address.host, host);
    g_server_address.port = port;
}

// Runs the dialog on this thread while `drive` works it from another; the driver closes the
// dialog if it is still open when the script ends, so a failure cannot hang the run.
INT_PTR run_driven(const std::function<void(HWND)> &drive)
{
    std::thread driver([&] {
        HWND dialog = wait_for_window(DIALOG_CLASS, TEXT_SETTINGS_DIALOG_CAPTION, PATIENCE_MS);
        EXPECT_TRUE(dialog != NULL) << "the dialog did not appear";
        if (!dialog)
            return;
        Sleep(100);
        drive(dialog);
        if (!wait_for_close(dialog, PATIENCE_MS)) {
            ADD_FAILURE() << "the dialog was still open";
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
    });
    INT_PTR result = run_settings_dialog(NULL);
    driver.join();
    return result;
}

HWND item(HWND dialog, int id)
{
    return GetDlgItem(dialog, id);
}
std::string item_text(HWND dialog, int id)
{
    return window_text(item(dialog, id));
}
std::string field_text(HWND dialog, int i)
{
    return window_text(GetDlgItem(item(dialog, SETTINGS_ADDRESS_ID), IP_FIELD_ID_BASE + i));
}
bool box_checked(HWND dialog)
{
    return SendMessageA(item(dialog, SETTINGS_LOCAL_ID), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void click(HWND dialog, int id)
{
    SendMessageA(item(dialog, id), BM_CLICK, 0, 0);
}
// Apply may open a message box, so it is posted rather than sent.
void post_apply(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(SETTINGS_APPLY_ID, BN_CLICKED),
                 (LPARAM)item(dialog, SETTINGS_APPLY_ID));
}
void close_box(HWND dialog)
{
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// Expects the settings message box with this text, and dismisses it.
void expect_message(const char *text)
{
    HWND box = wait_for_window(DIALOG_CLASS, TEXT_SETTINGS_CAPTION, PATIENCE_MS);
    ASSERT_TRUE(box != NULL) << "no message box";
    EXPECT_EQ(text, window_text(GetDlgItem(box, 0xFFFF)));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wait_for_close(box, PATIENCE_MS));
}

RECT item_rect(HWND dialog, int id)
{
    RECT r;
    GetWindowRect(item(dialog, id), &r);
    MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
    return r;
}

class SettingsDialog : public ::testing::Test {
protected:
    server_address saved_address;
    std::string saved_ip, saved_port;
    bool had_ip, had_port;

    void SetUp() override
    {
        saved_address = g_server_address;
        had_ip = has_setting("ip");
        had_port = has_setting("port");
        saved_ip = stored_setting("ip");
        saved_port = stored_setting("port");
        remove_setting("ip");
        remove_setting("port");
    }
    void TearDown() override
    {
        g_server_address = saved_address;
        remove_setting("ip");
        remove_setting("port");
        if (had_ip)
            put_setting("ip", saved_ip);
        if (had_port)
            put_setting("port", saved_port);
    }
};

TEST(DialogTemplate, HeaderAndAlignedItems)
{
    BYTE buffer[SETTINGS_TEMPLATE_SIZE] = {0};
    BYTE *p = begin_dialog_template(buffer, 280, 30);
    DWORD style;
    memcpy(&style, buffer, 4);
    EXPECT_EQ(0x84CC0840u, style);
    const WCHAR *caption = (const WCHAR *)(buffer + 22);
    EXPECT_EQ(0, wcscmp(L"" TEXT_SETTINGS_DIALOG_CAPTION, caption));
    const WCHAR *font = caption + wcslen(caption) + 2;  // past the terminator and point size
    EXPECT_EQ(9, *(caption + wcslen(caption) + 1));
    EXPECT_EQ(0, wcscmp(L"" TEXT_DIALOG_FONT, font));
    EXPECT_EQ((BYTE *)(font + wcslen(font) + 1), p);

    BYTE *first = p;
    p = append_button_item(buffer, p, TEXT_SETTINGS_APPLY, BS_FLAT, SETTINGS_APPLY_ID);
    p = append_button_item(buffer, p, NULL, BS_AUTOCHECKBOX, SETTINGS_LOCAL_ID);
    EXPECT_EQ(2, *(WORD *)(buffer + 8));
    BYTE *second = first + ((first - buffer) % 4 ? 4 - (first - buffer) % 4 : 0);
    EXPECT_EQ(0u, (size_t)(second - buffer) % 4);
    EXPECT_EQ(0x50018000u, *(DWORD *)second);
    EXPECT_EQ(SETTINGS_APPLY_ID, *(WORD *)(second + 16));
    EXPECT_EQ(0xFFFF, *(WORD *)(second + 18));
    EXPECT_EQ(0x0080, *(WORD *)(second + 20));
    EXPECT_EQ(0, wcscmp(L"" TEXT_SETTINGS_APPLY, (const WCHAR *)(second + 22)));
    EXPECT_GT(p, second);
}

TEST_F(SettingsDialog, DefaultServerOpensDisabledAndCloseStoresNothing)
{
    set_address(DEFAULT_SERVER_HOST, 5757);
    INT_PTR result = run_driven([](HWND dialog) {
        EXPECT_FALSE(box_checked(dialog));
        EXPECT_FALSE(IsWindowEnabled(item(dialog, SETTINGS_ADDRESS_ID)));
        EXPECT_EQ(1, SendMessageA(item(dialog, SETTINGS_ADDRESS_ID), IPM_ISBLANK, 0, 0));
        EXPECT_EQ("5757", item_text(dialog, SETTINGS_PORT_ID));

        // One row, left to right, 10 pixels apart except 5 before the port field.
        const int order[5] = {SETTINGS_LOCAL_ID, SETTINGS_ADDRESS_ID, SETTINGS_PORT_LABEL_ID,
                              SETTINGS_PORT_ID, SETTINGS_APPLY_ID};
        const int gap[4] = {10, 10, 5, 10};
        EXPECT_EQ(10, item_rect(dialog, order[0]).left);
        for (int i = 0; i < 5; i++) {
            RECT r = item_rect(dialog, order[i]);
            EXPECT_EQ(10, r.top);
            EXPECT_EQ(20, r.bottom - r.top);
            if (i < 4) {
                EXPECT_EQ(r.right + gap[i], item_rect(dialog, order[i + 1]).left) << i;
            }
        }
        EXPECT_EQ(130, item_rect(dialog, SETTINGS_ADDRESS_ID).right -
                           item_rect(dialog, SETTINGS_ADDRESS_ID).left);
        save_window_image(dialog, "settings-dialog-disabled.bmp");
        close_box(dialog);
    });
    EXPECT_EQ(SETTINGS_CLOSED, result);
    EXPECT_FALSE(has_setting("ip"));
    EXPECT_FALSE(has_setting("port"));
    EXPECT_STREQ(DEFAULT_SERVER_HOST, g_server_address.host);
}

TEST_F(SettingsDialog, LocalServerEditedAndApplied)
{
    set_address("192.168.0.10", 6000);
    INT_PTR result = run_driven([](HWND dialog) {
        EXPECT_TRUE(box_checked(dialog));
        EXPECT_TRUE(IsWindowEnabled(item(dialog, SETTINGS_ADDRESS_ID)));
        const char *fields[4] = {"192", "168", "0", "10"};
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(fields[i], field_text(dialog, i));
        EXPECT_EQ("6000", item_text(dialog, SETTINGS_PORT_ID));
        save_window_image(dialog, "settings-dialog-enabled.bmp");

        click(dialog, SETTINGS_LOCAL_ID);
        EXPECT_FALSE(box_checked(dialog));
        EXPECT_EQ("5757", item_text(dialog, SETTINGS_PORT_ID));
        EXPECT_FALSE(IsWindowEnabled(item(dialog, SETTINGS_ADDRESS_ID)));
        EXPECT_EQ("192", field_text(dialog, 0));
        SetWindowTextA(item(dialog, SETTINGS_PORT_ID), "6001");
        click(dialog, SETTINGS_LOCAL_ID);
        EXPECT_TRUE(IsWindowEnabled(item(dialog, SETTINGS_ADDRESS_ID)));
        EXPECT_EQ("6001", item_text(dialog, SETTINGS_PORT_ID));

        // Escape, and Enter in the port field, leave the dialog open.
        SetForegroundWindow(dialog);
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)item(dialog, SETTINGS_PORT_ID), TRUE);
        Sleep(100);
        press_key(VK_ESCAPE);
        press_key(VK_RETURN);
        Sleep(400);
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_TRUE(FindWindowA(DIALOG_CLASS, TEXT_SETTINGS_CAPTION) == NULL);

        // A blank address is refused and changes nothing.
        SendMessageA(item(dialog, SETTINGS_ADDRESS_ID), IPM_CLEARADDRESS, 0, 0);
        post_apply(dialog);
        expect_message(TEXT_MISSING_ADDRESS);
        EXPECT_STREQ("192.168.0.10", g_server_address.host);
        EXPECT_FALSE(has_setting("ip"));

        HWND control = item(dialog, SETTINGS_ADDRESS_ID);
        SetWindowTextA(GetDlgItem(control, IP_FIELD_ID_BASE), "10");
        SetWindowTextA(GetDlgItem(control, IP_FIELD_ID_BASE + 3), "1");
        SetWindowTextA(item(dialog, SETTINGS_PORT_ID), "70000");
        post_apply(dialog);
    });
    EXPECT_EQ(SETTINGS_APPLIED, result);
    EXPECT_EQ("10.0.0.1", stored_setting("ip"));
    EXPECT_EQ("70000", stored_setting("port"));
    EXPECT_STREQ("10.0.0.1", g_server_address.host);
    EXPECT_EQ(4464, g_server_address.port);
}

TEST_F(SettingsDialog, MissingPortIsRefusedWithoutTouchingTheAddress)
{
    set_address("10.1.2.3", 6000);
    INT_PTR result = run_driven([](HWND dialog) {
        SendMessageA(item(dialog, SETTINGS_ADDRESS_ID), IPM_SETADDRESS, 0, 0x7F000001);
        SetWindowTextA(item(dialog, SETTINGS_PORT_ID), "");
        post_apply(dialog);
        expect_message(TEXT_MISSING_PORT);
        EXPECT_TRUE(IsWindow(dialog));
        close_box(dialog);
    });
    EXPECT_EQ(SETTINGS_CLOSED, result);
    EXPECT_STREQ("10.1.2.3", g_server_address.host);
    EXPECT_EQ(6000, g_server_address.port);
    EXPECT_FALSE(has_setting("ip"));
    EXPECT_FALSE(has_setting("port"));
}

TEST_F(SettingsDialog, EnterOnApplyStoresTheDefaultServerAndSevenDigits)
{
    set_address("10.1.2.3", 6000);
    INT_PTR result = run_driven([](HWND dialog) {
        click(dialog, SETTINGS_LOCAL_ID);
        SetWindowTextA(item(dialog, SETTINGS_PORT_ID), "123456789");
        SetForegroundWindow(dialog);
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)item(dialog, SETTINGS_APPLY_ID), TRUE);
        Sleep(100);
        press_key(VK_RETURN);
    });
    EXPECT_EQ(SETTINGS_APPLIED, result);
    EXPECT_EQ(DEFAULT_SERVER_HOST, stored_setting("ip"));
    EXPECT_EQ("1234567", stored_setting("port"));
    EXPECT_EQ((unsigned short)(1234567 & 0xFFFF), g_server_address.port);
}

// Hosts that are not four dotted numbers open with the box checked, show only the numeric
// fields they have, and come out of the dialog byte for byte as they went in.
TEST_F(SettingsDialog, OtherHostTextsAreShownSafelyAndKeptIntact)
{
    struct case_t {
        const char *host;
        const char *fields[4];
    };
    const case_t cases[] = {
        {"files.nonexistent.invalid", {"", "", "", ""}},
        {"10.0.1", {"10", "0", "1", ""}},
        {"1.2.3.4.5", {"1", "2", "3", "4"}},
        {"\"7.8\".9.1", {NULL, NULL, NULL, NULL}},  // only that it survives
        {"", {"", "", "", ""}},
    };
    for (const case_t &c : cases) {
        set_address(c.host, 7000);
        INT_PTR result = run_driven([&](HWND dialog) {
            EXPECT_TRUE(box_checked(dialog)) << c.host;
            EXPECT_TRUE(IsWindowEnabled(item(dialog, SETTINGS_ADDRESS_ID)));
            if (c.fields[0]) {
                for (int i = 0; i < 4; i++)
                    EXPECT_EQ(c.fields[i], field_text(dialog, i)) << c.host;
            }
            close_box(dialog);
        });
        EXPECT_EQ(SETTINGS_CLOSED, result);
        EXPECT_STREQ(c.host, g_server_address.host);
        EXPECT_EQ(0, g_server_address.host[strlen(c.host) + 1]) << c.host;
    }
}

}  // namespace
