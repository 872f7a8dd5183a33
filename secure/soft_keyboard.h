// The on-screen keyboard drawn into the bottom strip of the change-PIN dialog. It has no window of its
// own: the dialog hands it paint requests and clicks. A click yields a character, which the dialog inserts
// into the active secure edit, or a virtual-key code (Backspace, Home, End, Del), which it posts there. The
// ten digit keys are shuffled each time the keyboard is prepared, so a click's position does not reveal
// the digit.
#pragma once

#include <windows.h>

#include <vector>

#include "soft_keyboard_layout.h"

namespace vd {

class SoftKeyboard {
 public:
  SoftKeyboard() = default;
  SoftKeyboard(const SoftKeyboard&) = delete;
  SoftKeyboard& operator=(const SoftKeyboard&) = delete;

  // Fills the key list with the default layout if it is empty.
  void BuildLayout();
  // With `on`, every digit key gets a randomly chosen digit with its own shifted symbol; without, the
  // digits in order.
  void ShuffleDigits(bool on);
  // Remembers the window and the area and paints every key; nothing when the window is not visible or
  // the layout is unusable.
  void LayOutAndPaint(HWND window, const RECT& area);
  // Hit-tests the point; Caps and Shift toggle their latch, any other key becomes the result.
  void Click(int x, int y);

  bool KeyHit() const { return keyHit_; }
  bool IsVirtualKey() const { return virtualKey_; }
  unsigned Result() const { return result_; }
  bool ShiftLatched() const { return shift_; }
  bool CapsLatched() const { return caps_; }
  const std::vector<SoftKey>& Keys() const { return keys_; }
  const SoftKeyboardMetrics& Metrics() const { return metrics_; }
  // Where a key lies now, for tests and for painting one key.
  bool KeyRect(size_t index, RECT* rect) const;
  // The duration a clicked key is shown pressed.
  void SetPressDelay(DWORD ms) { pressDelayMs_ = ms; }

 private:
  void PaintAll(HDC dc);
  void PaintKey(HDC dc, const SoftKey& key, RECT rect, bool pressed) const;
  void PaintOne(size_t index, bool pressed);
  unsigned ResultOf(const SoftKey& key) const;

  std::vector<SoftKey> keys_;
  bool shift_ = false;
  bool caps_ = false;
  bool keyHit_ = false;
  bool virtualKey_ = false;
  unsigned result_ = 0;
  SoftKeyboardMetrics metrics_;
  HWND window_ = nullptr;
  DWORD pressDelayMs_ = 50;
};

}  // namespace vd
