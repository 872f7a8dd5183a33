// The isolated desktop the PIN dialog runs on, created for one dialog and closed after it: the windows and
// desktop-bound hooks of other programs stay on the user's desktop. While it is shown, the user's desktop
// is locked against switching and the accessibility hot keys are off; switching back, or closing after an
// aborted run, puts both back as they were.
#pragma once

#include <windows.h>

#include <string>

#include "accessibility_keys.h"
#include "handles.h"

namespace vd {

class SecureDesktop {
 public:
  // The home desktop is the calling thread's unless one is given (tests pass a desktop of their own).
  explicit SecureDesktop(HDESK home = nullptr);
  ~SecureDesktop() { Close(); }
  SecureDesktop(const SecureDesktop&) = delete;
  SecureDesktop& operator=(const SecureDesktop&) = delete;

  // "<model word>-<process id>-<16 hexadecimal digits>", the digits from the system's generator.
  static std::wstring MakeName();

  // Closes a previous isolated desktop and creates a new one; false when the system refuses.
  bool Create();
  HDESK Desktop() const { return isolated_.get(); }
  HDESK Home() const { return home_; }
  const std::wstring& Name() const { return name_; }

  // Locks the home desktop, switches, suppresses the hot keys. On false the caller still calls
  // SwitchBack, which undoes the lock.
  bool SwitchTo();
  // Restores the settings and the home desktop's access list, then switches to the home desktop.
  void SwitchBack();
  // Restores whatever an aborted run left changed, removes the keyboard guard, closes the desktop.
  void Close();

  // Whether the home desktop's access list is currently replaced.
  bool HomeLocked() const { return daclSaved_; }
  bool Switched() const { return switched_; }

 private:
  void LockHome();
  void UnlockHome();

  HDESK home_;
  UniqueDesktop isolated_;
  std::wstring name_;
  PSECURITY_DESCRIPTOR savedDescriptor_ = nullptr;  // owns savedDacl_
  PACL savedDacl_ = nullptr;                        // may be null: a desktop without a DACL
  bool daclSaved_ = false;
  bool switched_ = false;
  AccessibilityHotKeys hotKeys_;
};

}  // namespace vd
