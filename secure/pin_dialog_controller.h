// The part of a PIN dialog that is not the dialog procedure: its secure edits, the soft keyboard and the
// layout that grows the window by the keyboard's strip. It has no window of its own; it is attached to a
// dialog window and owns the edits' objects.
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "sec_edit.h"
#include "soft_keyboard.h"

namespace vd {

class PinDialogController {
 public:
  explicit PinDialogController(HINSTANCE module) : module_(module) {}
  PinDialogController(const PinDialogController&) = delete;
  PinDialogController& operator=(const PinDialogController&) = delete;

  // The operations in slot order; derived controllers add their edits in Initialise.
  virtual ~PinDialogController();                       // 0: the edits' objects and the keyboard go
  virtual void Release();                               // 1: every edit cleared, the window forgotten
  virtual bool Initialise();                            // 2: after Attach; prepares the window and the keyboard
  virtual void Reset();                                 // 3: keyboard hidden, no sizes, no active edit
  virtual bool IsValid(HWND window) const;              // 4: the window, its check box and every edit exist
  virtual void OnMouseClick(UINT flags, int x, int y);  // 5: a click on the keyboard
  virtual void OnCheckBoxToggled();                     // 6: keyboard shown or hidden
  virtual void OnPaint();                               // 7: repaints the keyboard while shown
  virtual void PrepareWindow();                         // 8: saves the size, activates, hides the keyboard
  virtual void SyncCheckBox(bool boxToFlag);            // 9: box -> flag, or flag -> box
  virtual void ShowKeyboardLayout();                    // 10: the window grows by the keyboard's strip
  virtual void HideKeyboardLayout();                    // 11: the window returns to its saved size

  // Slot 4 must accept the window.
  bool Attach(HWND dialog);
  // Creates and attaches a secure edit for a control of the dialog; false when that fails.
  bool RegisterEdit(int id);
  CSecEdit* Edit(int id) const;
  const std::map<int, std::unique_ptr<CSecEdit>>& Edits() const { return edits_; }
  int ActiveEdit() const { return activeEdit_; }
  void SetActiveEdit(int id) { activeEdit_ = id; }
  HWND Window() const { return window_; }
  bool KeyboardShown() const { return keyboardShown_; }
  SoftKeyboard& Keyboard() { return keyboard_; }
  SIZE KeyboardSize() const { return keyboardSize_; }
  // The bottom strip of the client area where the keyboard is drawn.
  RECT KeyboardArea() const;

 protected:
  HINSTANCE module_;
  HWND window_ = nullptr;
  SoftKeyboard keyboard_;
  SIZE keyboardSize_{};
  bool keyboardShown_ = false;
  int checkBoxId_ = 2010;
  std::map<int, std::unique_ptr<CSecEdit>> edits_;
  int activeEdit_ = 0;
  RECT savedRect_{};
};

}  // namespace vd
