// Resource ids of the main window, its tray menu and the program's version resources.
#pragma once

#define IDD_CERTMANAGER 102
#define IDR_TRAYMENU 140

#define IDC_BANNER 1026
#define IDC_CERT_GROUP 1021
#define IDC_CERT_TREE 1014
#define IDC_CHANGE_PIN 1015
#define IDC_SET_NOTIFIER 2027
#define IDC_VIEW_CERT 1016
#define IDC_CHANGE_NAME 2000
#define IDC_OPTION 2004
#define IDC_REGISTER_CERT 1017
#define IDC_UNREGISTER_CERT 1018
#define IDC_VERIFY_PIN 2003
#define IDC_INITIALIZE 2028
#define IDC_EXIT 1031
#define IDC_IMPORTANT 2018
#define IDC_DEVICE_INFO 2019
#define IDC_TITLE_LABEL 1019
#define IDC_SLOGAN_LABEL 1020

#define IDM_SHOW_MANAGER 32771
#define IDM_ABOUT 32772

// Shared with the notification resources.
#define IDI_TOKEN 128
#define IDI_TOKEN_BUSY1 129
#define IDI_TOKEN_BUSY2 130
#define IDB_TREE_IMAGES 137
#define IDB_BANNER 138

#ifndef RC_INVOKED
// The main window's other constants, for the code only (the resource compiler skips this part).
#include <windows.h>

namespace vd {

// Private messages of the main window.
constexpr UINT kTrayCallbackMessage = WM_USER + 12;        // 1036, the shell reports mouse actions on the icon
constexpr UINT kNotifierSettingsMessage = WM_USER + 2000;  // 3024, new reminder settings, to itself
constexpr UINT kRebuildTreeMessage = WM_APP + 1;           // the event worker asks for a tree rebuild

// What InstanceMessage's wParam asks of the running instance.
enum InstanceCommand : WPARAM {
  kInstanceTerminate = 1,  // a "-t" start
  kInstanceShow = 2,       // a second start
  kInstanceQuiet = 3,      // this instance was started with "-s"
};

// The tray icon's image: the token, or one of the two busy images that alternate while the token works.
enum TrayState : int {
  kTrayIdle = 1,
  kTrayBusyFirst = 2,
  kTrayBusySecond = 3,
};

enum TimerId : UINT_PTR {
  kBusyTimer = 1,          // alternates the busy images, every 350 ms
  kStartTimer = 2,         // once, 200 ms after the initialisation
  kTrayRemovalTimer = 3,   // once, 5 s after the last token went
  kReminderTimer = 1010,   // the usage reminders
  kPinCheckTimer = 2008,   // once, 1 s after the initialisation: forced PIN changes
  kInsertRetryTimer = 2009,  // once a second while an inserted token could not be read
};

// The system menu's About command.
constexpr WPARAM kSysCommandAbout = 100;

}  // namespace vd
#endif
