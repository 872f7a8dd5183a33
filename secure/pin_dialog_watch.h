// How the window learns of the PIN dialog while it is open, so that pulling the token ends it.
#pragma once

#include <windows.h>

#include <functional>

namespace vd {

struct PinDialogWatch {
  std::function<void(HWND dialog)> opened;  // always called on the caller's thread
  std::function<void()> closed;             // likewise, once, after the dialog ended
  // Told true just before the switch to the isolated desktop and false once the home desktop is back, on
  // every way out: meanwhile the caller's thread keeps dispatching, but nothing it opens would be seen.
  std::function<void(bool isolated)> isolated;
};

}  // namespace vd
