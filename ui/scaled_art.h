// The main window's banner and the usage popup's skin are drawn at 100, 150 and 200%: the one that suits
// a DPI is shown. The banner's static (SS_REALSIZECONTROL) scales it the rest of the way to its size.
#pragma once

#include <windows.h>

namespace vd {

// The bitmap drawn for the DPI's scale in place of the 96-DPI one; other ids unchanged.
int ScaledArtId(int baseId, int dpi);
// Puts the banner for the dialog's DPI into its control; call again when the DPI changes.
void ShowBannerForDpi(HWND dialog, int controlId);

}  // namespace vd
