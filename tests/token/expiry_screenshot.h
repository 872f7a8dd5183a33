// A PNG of one window as it shows on the screen, for people to look at; tests never compare pixels.
#pragma once

#include <windows.h>

namespace expirytest {

// Writes <build tree>\screenshots\<name>; false when the capture or the encoder is not available.
bool SaveWindowScreenshot(HWND wnd, const wchar_t* name);

}  // namespace expirytest
