// The identifiers of the program's resources and of the main window's controls, and the
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

// Menu commands and the timer share numbers with controls; their messages differ.
#define ID_MENU_SERVER_SETTINGS 1001
#define ID_MENU_VIEW_LOG        1010
#define REFRESH_TIMER_ID        1001

// The install folder, as the dialog shows it, and with the separator for joining names.
#define INSTALL_FOLDER_TEXT "C:\\TervalenWyndale"
#define LIBRARY_FOLDER      INSTALL_FOLDER_TEXT "\\"
