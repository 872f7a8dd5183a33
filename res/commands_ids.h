// Resource ids of the window's command dialogs: renaming a token, the home-page option, and the device
// information and Important dialogs.
#pragma once

#define IDD_CHANGE_TOKEN_NAME 142
#define IDC_TOKEN_NAME_EDIT 2001
#define IDC_TOKEN_NAME_LABEL 2002

#define IDD_OPTION 144
#define IDC_OPTION_FLAG 2008
#define IDC_OPTION_HIDE_HOME 2034
#define IDC_OPTION_SHOW_HOME 2038
#define IDC_OPTION_ADDRESS 2039

#define IDD_DEVICE_INFO 148
#define IDC_DEVICE_INFO_GROUP 2022
#define IDC_DEVICE_INFO_TEXT 2020

#define IDD_IMPORTANT 149
#define IDD_IMPORTANT_ENGLISH 151
#define IDC_IMPORTANT_GROUP 2023
#define IDC_IMPORTANT_TEXT 2024
