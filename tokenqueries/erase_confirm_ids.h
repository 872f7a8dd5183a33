// The erase confirmation's dialog template and controls. Test tools find the dialog by kEraseRequestText.
#pragma once

#define IDD_ERASE_CONFIRM 7000
#define IDC_ERASE_ICON 7001
#define IDC_ERASE_REQUEST 7002
#define IDC_ERASE_WARNING 7003
#define IDC_ERASE_ADVICE 7004
