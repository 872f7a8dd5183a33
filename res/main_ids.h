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
