#include "secure_desktop.h"

#include <aclapi.h>

#include <cwchar>

#include "desktop_platform.h"
#include "keyboard_guard.h"
#include "product.h"
#include "secret_memory.h"

namespace vd {
namespace {

// DESKTOP_CREATEWINDOW | DESKTOP_CREATEMENU | DESKTOP_HOOKCONTROL | DESKTOP_SWITCHDESKTOP
constexpr ACCESS_MASK kIsolatedAccess = 0x10E;

}  // namespace

DesktopPlatform& SecureDesktopPlatform() {
  static DesktopPlatform platform;
  return platform;
}

SecureDesktop::SecureDesktop(HDESK home) : home_(home ? home : ::GetThreadDesktop(::GetCurrentThreadId())) {}

std::wstring SecureDesktop::MakeName() {
  wchar_t random[17] = {};
  for (int i = 0; i < 16; ++i) random[i] = L"0123456789ABCDEF"[RandomBelow(16)];
  wchar_t name[128] = {};
  _snwprintf(name, 127, L"%s-%ld-%s", kProduct.modelWord, static_cast<long>(::GetCurrentProcessId()), random);
  return name;
}

bool SecureDesktop::Create() {
  isolated_.reset();
  name_ = MakeName();
  isolated_.reset(::CreateDesktopW(name_.c_str(), nullptr, nullptr, 0, kIsolatedAccess, nullptr));
  return static_cast<bool>(isolated_);
}

void SecureDesktop::LockHome() {
  if (daclSaved_ || !home_) return;
  PACL old = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(home_, SE_WINDOW_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old, nullptr,
                        &descriptor) != ERROR_SUCCESS)
    return;  // without the old list nothing could be put back: leave the desktop as it is
  // The well-known SID rather than the name "everyone", which is translated on other languages' systems.
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    ::LocalFree(descriptor);
    return;
  }
  EXPLICIT_ACCESSW deny{};
  deny.grfAccessPermissions = DESKTOP_SWITCHDESKTOP;
  deny.grfAccessMode = DENY_ACCESS;
  deny.grfInheritance = NO_INHERITANCE;
  deny.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  deny.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  deny.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL lock = nullptr;
  if (::SetEntriesInAclW(1, &deny, nullptr, &lock) == ERROR_SUCCESS) {
    if (::SetSecurityInfo(home_, SE_WINDOW_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, lock, nullptr) ==
        ERROR_SUCCESS) {
      savedDescriptor_ = descriptor;
      savedDacl_ = old;
      daclSaved_ = true;
      descriptor = nullptr;
    }
    ::LocalFree(lock);
  }
  ::FreeSid(everyone);
  if (descriptor) ::LocalFree(descriptor);
}

void SecureDesktop::UnlockHome() {
  if (!daclSaved_) return;
  // A null saved list goes back too: the desktop had no DACL, i.e. full access for everyone, and keeping
  // the lock instead would leave the user's desktop closed to switching for good.
  ::SetSecurityInfo(home_, SE_WINDOW_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, savedDacl_, nullptr);
  daclSaved_ = false;
  savedDacl_ = nullptr;
  if (savedDescriptor_) ::LocalFree(savedDescriptor_);
  savedDescriptor_ = nullptr;
}

bool SecureDesktop::SwitchTo() {
  if (!isolated_) return false;
  LockHome();
  if (!SecureDesktopPlatform().switchDesktop(isolated_.get())) return false;
  switched_ = true;
  hotKeys_.SaveAndSuppress();
  return true;
}

void SecureDesktop::SwitchBack() {
  hotKeys_.Restore();
  UnlockHome();
  if (home_) SecureDesktopPlatform().switchDesktop(home_);
  switched_ = false;
}

void SecureDesktop::Close() {
  // An aborted run must not leave the user on a desktop that is about to go.
  if (switched_) SwitchBack();
  hotKeys_.Restore();
  UnlockHome();
  RemoveKeyboardGuard();
  // Wine may fail this with error 6 after the dialog threads ended; nothing is left to do then.
  isolated_.reset();
}

}  // namespace vd
