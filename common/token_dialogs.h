// Dialogs opened for one token (changing its PIN, renaming it) end when the token is pulled out. The
// window posts this message to such a dialog instead of ending it itself, because the dialog may run on
// another thread (the PIN dialog on the isolated desktop); the dialog then ends with kTokenRemovedResult,
// so that its caller can tell a pulled token from a cancel.
#pragma once

#include <windows.h>

namespace vd {

constexpr UINT kTokenRemovedMessage = WM_APP + 0x0B00;
constexpr INT_PTR kTokenRemovedResult = 0x0B00;

}  // namespace vd
