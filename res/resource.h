// The identifiers of the program's resources and of its windows' controls, and the
// install folder the dialog shows. Included by pavoset.rc and by the code, so plain
// #defines only: the resource compiler reads no C.
#pragma once

#define MAIN_DIALOG_ID 101
#define MAIN_ICON_ID   102

// Controls of the main dialog.
#define ID_DOWNLOAD_BUTTON 1
#define ID_LIBRARY_LIST    1000
#define ID_PROGRESS_BAR    1001
#define ID_FOLDER_TEXT     1002
#define ID_CURRENT_FILE    1003
#define ID_MESSAGE_LINE    1004

// Menu commands (WM_COMMAND from the menu bar). A number may repeat a control's (the server
// settings command and the progress bar): the progress bar sends no commands.
#define ID_MENU_SERVER_SETTINGS 1001
#define ID_MENU_VIEW_LOG        1010

// The main window's timer (WM_TIMER): timer ids are a number space of their own.
#define REFRESH_TIMER_ID 1001

// Controls of the server settings dialog (built in memory, settings/settings_dialog.cpp).
#define SETTINGS_ADDRESS_ID    2001
#define SETTINGS_PORT_LABEL_ID 2002
#define SETTINGS_PORT_ID       2003
#define SETTINGS_APPLY_ID      2004
#define SETTINGS_LOCAL_ID      2005
// The address control's four fields, its children: IP_FIELD_ID_BASE + 0 to 3, left to right.
#define IP_FIELD_ID_BASE 1400

// The install folder, as the dialog shows it, and with the separator for joining names.
#define INSTALL_FOLDER_TEXT "C:\\TervalenWyndale"
#define LIBRARY_FOLDER      INSTALL_FOLDER_TEXT "\\"
