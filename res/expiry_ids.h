// Resource ids of the "Check Cert" dialog. Read by the resource compiler too: plain defines only.
#pragma once

#define IDD_CHECK_CERT 152
#define IDI_CHECK_CERT_ICON 128  // the program's token icon, drawn with the other artwork
#define IDC_CHECK_CERT_ICON 2037
#define IDC_CHECK_CERT_MESSAGE 2035
#define IDC_CHECK_CERT_LINE 2036
#define IDC_CHECK_CERT_NO_PROMPT 2026
