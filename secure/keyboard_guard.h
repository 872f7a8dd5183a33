// While the PIN dialog is shown on the isolated desktop, Ctrl+Alt+Del and Win+L take the user to a
// system screen; the guard closes the dialog (as cancelled) at the same moment, so that the user comes
// back to the normal desktop and not to a stale isolated one. It never swallows a key.
#pragma once

#include <windows.h>

namespace vd {

// One process-wide low-level keyboard hook; installing twice keeps the first. Both are called on the
// thread that runs the PIN dialog.
bool InstallKeyboardGuard(HINSTANCE module);
void RemoveKeyboardGuard();
bool KeyboardGuardInstalled();

// Whether a key event with these modifiers ends the dialog: 'L' with a Windows key, or Delete with both
// Ctrl and Alt.
bool KeyboardGuardFires(DWORD vk, bool windowsKeyDown, bool ctrlDown, bool altDown);

}  // namespace vd
