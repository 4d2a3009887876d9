// The gate of a scheduled run (-scheduled): the logon task an installer registered runs only
// while the machine policy SETTING_AUTO_INSTALL is "1", so administrators can stop it on
// every PC at once without touching the task.
#pragma once

// 1 when HKEY_LOCAL_MACHINE\SETTINGS_KEY holds SETTING_AUTO_INSTALL = "1" (blanks around
// it aside); 0 when it is absent, anything else, unreadable, or only a user's value.
int scheduled_install_allowed();
