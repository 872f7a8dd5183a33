// Resource ids of the program's artwork and of the small dialogs: the About box and the Set Notifier
// dialog. The artwork ids are shared with the main window's resources (identical definitions).
#pragma once

#define IDI_TOKEN 128
#define IDI_TOKEN_BUSY1 129
#define IDI_TOKEN_BUSY2 130
#define IDB_TREE_IMAGES 137
#define IDB_BANNER 138
#define IDB_NOTIFIER_SKIN 139
#define IDB_BANNER_150 154  // the banner drawn for 150%
#define IDB_BANNER_200 155  // and for 200%
#define IDB_NOTIFIER_SKIN_150 156
#define IDB_NOTIFIER_SKIN_200 157

#define IDD_ABOUT 100
#define IDC_ABOUT_ICON 1027
#define IDC_ABOUT_PRODUCT 1022
#define IDC_ABOUT_VERSION 1023
#define IDC_ABOUT_INFO1 1024
#define IDC_ABOUT_INFO2 1025

#define IDD_SET_NOTIFIER 153
#define IDC_NOTIFIER_ENABLE 2029
#define IDC_NOTIFIER_INTERVAL_LABEL 2030
#define IDC_NOTIFIER_MINUTES 2031
#define IDC_NOTIFIER_SPIN 2032
#define IDC_NOTIFIER_MINUTES_LABEL 2033
