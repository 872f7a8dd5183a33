// Resource ids of the change-PIN dialog and of the dimmed background behind it. Read by the resource
// compiler too: plain defines only.
#pragma once

#define IDD_CHANGE_PIN 134
#define IDD_PIN_BACKGROUND 147

#define IDC_PIN_ADVICE 2025
#define IDC_OLD_PIN_LABEL 1028
#define IDC_OLD_PIN 2016
#define IDC_NEW_PIN_LABEL 1029
#define IDC_NEW_PIN 2017
#define IDC_CONFIRM_PIN_LABEL 1030
#define IDC_CONFIRM_PIN 2021
#define IDC_SOFT_KEYBOARD 2010
