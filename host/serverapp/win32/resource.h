// Resource ids of ServerApp.exe (serverapp.rc). The dialog backend
// (platform/win32/dialog_win32.cpp) uses the same numbers.
#pragma once

#define IDD_SERVERAPP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_BUTTON_START 1001
#define IDC_EDIT_CONSOLE 1002
#define IDC_BUTTON_GO 1003
#define IDC_LIST_CONSOLE 1006
