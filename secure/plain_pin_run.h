// The change-PIN dialog on the user's own desktop: a modal dialog on the caller's thread, over a modeless
// window that shows the dimmed screen. Used for a forced change and when the isolated desktop cannot be
// used.
#pragma once

#include <windows.h>

#include <string>

#include "pin_dialog_watch.h"
#include "pkcs11.h"

namespace vd {

// The dialog's result (1 OK with the PINs in `oldPin` and `newPin`, 2 cancelled, kTokenRemovedResult, -1
// when the dialog could not be created). `watch` may be null.
INT_PTR RunPlainPinDialog(bool forced, CK_ULONG minimumLength, CK_ULONG maximumLength, std::wstring& oldPin,
                          std::wstring& newPin, const PinDialogWatch* watch = nullptr, HINSTANCE module = nullptr);

}  // namespace vd
