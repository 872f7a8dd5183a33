// Screen resolution and contrast for the windows that draw themselves: sizes are laid out for 96 DPI and
// scaled to the DPI of the screen the window is on; colours come from the system while high contrast is on.
#pragma once

#include <windows.h>

#include "handles.h"

namespace vd {

inline constexpr int kBaseDpi = 96;
// WM_DPICHANGED: a per-monitor aware window moved to a screen of another DPI, or the DPI changed.
// wParam's low word is the new DPI, lParam the rectangle the system suggests.
inline constexpr UINT kDpiChangedMessage = 0x02E0;

inline int ScaleForDpi(int pixels, int dpi) { return ::MulDiv(pixels, dpi, kBaseDpi); }

// The DPI of the screen's device context: the system DPI.
int SystemDpi();
// The DPI the window is shown at: its monitor's (GetDpiForWindow, Windows 10 1607 and later, looked up at
// run time so that XP still loads the program), otherwise the system's. Null: the system's.
int WindowDpi(HWND hwnd);
// The scale of the artwork to draw for a DPI: 100, 150 or 200 percent, the largest not above it.
int ArtScalePercent(int dpi);
// The system's small icon size at a DPI (the tray icon's): GetSystemMetricsForDpi where it exists.
int SmallIconSize(int dpi);
bool HighContrastOn();
// For tests on systems that cannot switch high contrast on (Wine refuses SPI_SETHIGHCONTRAST): while set,
// HighContrastOn answers `on` instead of the system. -1 gives the answer back to the system.
void OverrideHighContrastForTesting(int on);

// A dialog's answer to WM_DPICHANGED. Under per-monitor awareness v2 (Windows 10 1703 and later) the
// dialog manager rescales dialogs itself, and OnDpiChanged returns false to leave it to it. Under the
// first per-monitor awareness (Windows 8.1 to 10 1607) nothing does: it scales every control's position
// and size and the dialog's font by the ratio of the size the system suggests to the present one, and
// moves the dialog there. The dialog owns the font it made while the object lives.
class DialogDpiScaler {
 public:
  bool OnDpiChanged(HWND dialog, LPARAM suggestedRect);

 private:
  UniqueFont font_;
};

}  // namespace vd
