// Runs the change-PIN dialog on an isolated desktop: a background thread shows the dimmed screen there, a
// PIN thread runs the dialog over it, and the caller waits for both while still answering its own
// window's messages.
#pragma once

#include <windows.h>

#include "pin_dialog_watch.h"
#include "pkcs11.h"

namespace vd {

struct SecureRunResult {
  bool started = false;  // false: the caller takes the plain path
  INT_PTR result = 2;    // 1 OK (the PINs are in SecureRunOldPin/NewPin), 2 cancelled, or kTokenRemovedResult
};

// `module` holds the dialog templates (the program's own when null). `watch` may be null.
SecureRunResult RunSecurePinDialog(CK_ULONG minimumLength, CK_ULONG maximumLength,
                                   const PinDialogWatch* watch = nullptr, HINSTANCE module = nullptr);

}  // namespace vd
