// The accessibility hot keys (five Shifts for sticky keys, Num Lock held for toggle keys, right Shift held
// for filter keys) open a dialog on the user's desktop, which would pull the user off the isolated one.
// While the isolated desktop is shown their hot keys are switched off, except for a feature already on.
#pragma once

#include <windows.h>

namespace vd {

class AccessibilityHotKeys {
 public:
  AccessibilityHotKeys() = default;
  AccessibilityHotKeys(const AccessibilityHotKeys&) = delete;
  AccessibilityHotKeys& operator=(const AccessibilityHotKeys&) = delete;

  // Saves the three settings, then clears the hot-key bits of each feature that is off.
  void SaveAndSuppress();
  // Sets back every setting that was read; nothing if nothing was saved. Safe to call twice.
  void Restore();
  bool Suppressed() const { return suppressed_; }

 private:
  STICKYKEYS sticky_{};
  TOGGLEKEYS toggle_{};
  FILTERKEYS filter_{};
  bool haveSticky_ = false;
  bool haveToggle_ = false;
  bool haveFilter_ = false;
  bool suppressed_ = false;
};

}  // namespace vd
