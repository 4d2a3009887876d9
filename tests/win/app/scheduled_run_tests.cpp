// The logon task's side of the program: -scheduled and the task options on the command line,
// the AutoInstall policy that gates a scheduled run, and the task's definition and its
// registration through schtasks.exe.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "app/logon_task.h"
#include "app/scheduled_run.h"
#include "settings/registry_store.h"
#include "settings_registry.h"
#include "test_files.h"

namespace {

command_line parse(const char *text)
{
    command_line out;
    parse_command_line(text, &out);
    return out;
}

TEST(ScheduledRun, CommandLineOptions)
{
    command_line a = parse("-install -scheduled");
    EXPECT_EQ(MODE_INSTALL, a.mode);
    EXPECT_TRUE(a.scheduled);
    EXPECT_STREQ("", a.unknown);
    EXPECT_EQ(MODE_INSTALL, parse("-SCHEDULED").mode) << "alone it is a scheduled install";
    EXPECT_EQ(MODE_CHECK, parse("-check -scheduled").mode);
    EXPECT_FALSE(parse("-install").scheduled);

    EXPECT_EQ(MODE_REGISTER_TASK, parse("-register-task").mode);
    EXPECT_EQ(MODE_REMOVE_TASK, parse("-Remove-Task").mode);
    // The installer's request is never turned into an install by another word.
    EXPECT_EQ(MODE_REGISTER_TASK, parse("-register-task -install").mode);
    EXPECT_EQ(MODE_HELP, parse("-register-task -?").mode);
    EXPECT_NE(std::string::npos, std::string(USAGE_TEXT).find("-scheduled"));
    EXPECT_NE(std::string::npos, std::string(USAGE_TEXT).find("-register-task"));
}

TEST(ScheduledRun, OnlyTheMachinePolicyOfOneLetsItRun)
{
    machine_policy_guard machine;
    saved_setting user(SETTING_AUTO_INSTALL);
    EXPECT_FALSE(scheduled_install_allowed()) << "no policy: off";

    put_setting(SETTING_AUTO_INSTALL, "1");
    EXPECT_FALSE(scheduled_install_allowed()) << "a user cannot switch it on";

    put_machine_text(SETTING_AUTO_INSTALL, "0");
    EXPECT_FALSE(scheduled_install_allowed());
    put_machine_text(SETTING_AUTO_INSTALL, " 1 ");
    EXPECT_TRUE(scheduled_install_allowed());
    put_machine_text(SETTING_AUTO_INSTALL, "10");
    EXPECT_FALSE(scheduled_install_allowed());

    // The 32-bit view, where the 32-bit installer package writes it.
    remove_machine_setting(SETTING_AUTO_INSTALL);
    put_machine_text(SETTING_AUTO_INSTALL, "1", KEY_WOW64_32KEY);
    EXPECT_TRUE(scheduled_install_allowed());

    // A number is not the text the policy templates write: configured wrong, so off, and the
    // user's "1" does not take over.
    remove_machine_setting(SETTING_AUTO_INSTALL);
    DWORD one = 1;
    put_machine_setting(SETTING_AUTO_INSTALL, REG_DWORD, &one, sizeof one);
    EXPECT_FALSE(scheduled_install_allowed());
}

TEST(LogonTask, DefinitionNamesTheProgramForEveryUser)
{
    wchar_t xml[8192];
    int length = logon_task_xml(L"C:\\Program Files\\R&D <x>\\Pavoset.exe", xml, 8192);
    ASSERT_GT(length, 0);
    std::wstring text(xml, (size_t)length);
    EXPECT_NE(std::wstring::npos,
              text.find(L"<Command>C:\\Program Files\\R&amp;D &lt;x&gt;\\Pavoset.exe</Command>"));
    EXPECT_NE(std::wstring::npos, text.find(L"<Arguments>-install -scheduled</Arguments>"));
    EXPECT_NE(std::wstring::npos, text.find(L"<LogonTrigger>"));
    EXPECT_NE(std::wstring::npos, text.find(L"<GroupId>S-1-5-32-545</GroupId>"));
    EXPECT_NE(std::wstring::npos, text.find(L"<Hidden>true</Hidden>"));

    // Too small a buffer is refused, not cut.
    int short_length = logon_task_xml(L"C:\\Pavoset.exe", xml, 8192);
    EXPECT_EQ(short_length, logon_task_xml(L"C:\\Pavoset.exe", xml, short_length + 1));
    EXPECT_EQ(0, logon_task_xml(L"C:\\Pavoset.exe", xml, short_length));
    EXPECT_EQ(0, logon_task_xml(L"C:\\Pavoset.exe", xml, 0));
}

TEST(LogonTask, RegisteredAndRemovedThroughSchtasks)
{
    // The Task Scheduler keeps each task's definition as a file under the native System32\Tasks.
    // A 32-bit program on 64-bit Windows sees SysWOW64 as System32, so it looks through
    // Sysnative there.
    char windows[MAX_PATH];
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    std::string file = std::string(windows) + (wow64 ? "\\Sysnative" : "\\System32") + "\\Tasks\\" +
                       LOGON_TASK_NAME;
    ASSERT_EQ(0, register_logon_task());
    ASSERT_TRUE(path_exists(file.c_str())) << file;
    // Registering again replaces the task instead of failing.
    EXPECT_EQ(0, register_logon_task());
    EXPECT_EQ(0, remove_logon_task());
    EXPECT_FALSE(path_exists(file.c_str()));
    EXPECT_NE(0, remove_logon_task()) << "nothing left to remove";
}

}  // namespace
