#include "app/logon_task.h"

#include <windows.h>
#include <cwchar>

#define WIDE_TEXT(text)   L"" text
#define LOGON_TASK_NAME_W WIDE_TEXT(LOGON_TASK_NAME)

// Every member of the local Users group (S-1-5-32-545), each in their own session, with
// their own rights: the install folder and the run log are the logged-on user's business.
static const wchar_t TASK_HEAD[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo><Description>Pavoset -install -scheduled</Description></RegistrationInfo>\r\n"
    L"  <Triggers><LogonTrigger><Enabled>true</Enabled><Delay>PT1M</Delay></LogonTrigger></Triggers>\r\n"
    L"  <Principals><Principal id=\"Users\"><GroupId>S-1-5-32-545</GroupId>"
    L"<RunLevel>LeastPrivilege</RunLevel></Principal></Principals>\r\n"
    L"  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
    L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
    L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
    L"<RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>"
    L"<ExecutionTimeLimit>PT1H</ExecutionTimeLimit><Hidden>true</Hidden>"
    L"<Enabled>true</Enabled></Settings>\r\n"
    L"  <Actions Context=\"Users\"><Exec><Command>";
static const wchar_t TASK_TAIL[] =
    L"</Command><Arguments>-install -scheduled</Arguments></Exec></Actions>\r\n"
    L"</Task>\r\n";

// Appends text to out at *length; 0 when it does not fit (with room for the terminator).
static int append(wchar_t *out, int capacity, int *length, const wchar_t *text)
{
    size_t n = wcslen(text);
    if ((size_t)*length + n >= (size_t)capacity)
        return 0;
    wmemcpy(out + *length, text, n);
    *length += (int)n;
    out[*length] = 0;
    return 1;
}

int logon_task_xml(const wchar_t *program, wchar_t *out, int capacity)
{
    if (!program || !out || capacity <= 0)
        return 0;
    int length = 0;
    out[0] = 0;
    if (!append(out, capacity, &length, TASK_HEAD))
        return 0;
    // A folder may be named with '&' or '<'; the path goes in as character data.
    for (const wchar_t *c = program; *c; ++c) {
        wchar_t one[2] = {*c, 0};
        const wchar_t *piece = *c == L'&'   ? L"&amp;"
                               : *c == L'<' ? L"&lt;"
                               : *c == L'>' ? L"&gt;"
                                            : one;
        if (!append(out, capacity, &length, piece))
            return 0;
    }
    if (!append(out, capacity, &length, TASK_TAIL))
        return 0;
    return length;
}

// Runs schtasks.exe from the system folder with arguments, no window; its exit code or -1.
static int run_schtasks(const wchar_t *arguments)
{
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return -1;
    wchar_t command[2 * MAX_PATH + 128];
    if (_snwprintf(command, sizeof command / sizeof command[0] - 1, L"\"%ls\\schtasks.exe\" %ls",
                   system, arguments) < 0)
        return -1;
    command[sizeof command / sizeof command[0] - 1] = 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    DWORD code = (DWORD)-1;
    // schtasks answers in a moment; a hung one must not hold an installer forever.
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
        TerminateProcess(process.hProcess, 1);
        code = (DWORD)-1;
    }
    CloseHandle(process.hProcess);
    return (int)code;
}

int register_logon_task()
{
    wchar_t program[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return -1;
    static wchar_t xml[8192];
    int length = logon_task_xml(program, xml, sizeof xml / sizeof xml[0]);
    if (!length)
        return -1;

    wchar_t folder[MAX_PATH], file[MAX_PATH];
    DWORD f = GetTempPathW(MAX_PATH, folder);
    if (f == 0 || f >= MAX_PATH || !GetTempFileNameW(folder, L"pvt", 0, file))
        return -1;
    // schtasks reads the definition as UTF-16 with its byte-order mark, as the XML says.
    int code = -1;
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        const wchar_t mark = 0xFEFF;
        DWORD written = 0, total = 0;
        WriteFile(out, &mark, sizeof mark, &written, nullptr);
        total += written;
        WriteFile(out, xml, (DWORD)length * sizeof(wchar_t), &written, nullptr);
        total += written;
        CloseHandle(out);
        if (total == sizeof mark + (DWORD)length * sizeof(wchar_t)) {
            wchar_t arguments[MAX_PATH + 96];
            _snwprintf(arguments, sizeof arguments / sizeof arguments[0] - 1,
                       L"/Create /F /TN \"" LOGON_TASK_NAME_W L"\" /XML \"%ls\"", file);
            arguments[sizeof arguments / sizeof arguments[0] - 1] = 0;
            code = run_schtasks(arguments);
        }
    }
    DeleteFileW(file);
    return code;
}

int remove_logon_task()
{
    return run_schtasks(L"/Delete /F /TN \"" LOGON_TASK_NAME_W L"\"");
}
