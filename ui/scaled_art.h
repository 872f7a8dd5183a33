// The main window's banner is drawn at 100, 150 and 200%: the one that suits the window's DPI is shown,
// and its static (SS_REALSIZECONTROL) scales it the rest of the way to the control's size.
#pragma once

#include <windows.h>

namespace vd {

int BannerBitmapId(int dpi);
// Puts the banner for the dialog's DPI into its control; call again when the DPI changes.
void ShowBannerForDpi(HWND dialog, int controlId);

}  // namespace vd
