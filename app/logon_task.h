// The logon task an installer package asks for (AUTOINSTALL=1): this program with -install
// -scheduled at every user's logon, as that user, without a window. The package cannot write
// the task's definition itself (the program's folder is known only when it installs), so it
// runs Pavoset.exe -register-task, which hands schtasks.exe a definition naming its own path.
#pragma once

// Where the task lives in the Task Scheduler; the package and the tests read this line.
#define LOGON_TASK_NAME "Pavoset\\AutoInstall"

// The task's definition (Task Scheduler XML) for program, the full path of Pavoset.exe, into
// out. Returns its length in characters, or 0 when it does not fit in capacity.
int logon_task_xml(const wchar_t *program, wchar_t *out, int capacity);

// Registers the task for this executable, replacing an older one, or removes it. Each returns
// schtasks.exe's exit code (0 done), or -1 when it could not be run.
int register_logon_task();
int remove_logon_task();
