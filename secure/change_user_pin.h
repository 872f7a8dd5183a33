// Changing a token's user PIN: the PIN dialog (on the isolated desktop unless the change is forced or the
// isolated run cannot start), then C_SetPIN in a read-write session of its own. Every copy of both PINs
// is wiped on every path.
#pragma once

#include "pin_dialog_watch.h"
#include "pkcs11.h"

namespace vd {

// Returned when the user cancelled; a PKCS#11 code never takes this value in this role.
constexpr CK_RV kPinChangeCancelled = 1;

// 1 when the user cancelled; otherwise the CK_RV of the change (CKR_OK on success). A token pulled while
// the dialog is open (the window posts kTokenRemovedMessage to it) gives CKR_DEVICE_REMOVED without a
// call to the module. A call made while another change is under way returns 1 at once.
CK_RV ChangeUserPin(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot, bool forced, const PinDialogWatch& watch);

// Where the dialog templates are (the program's own module by default); tests name their executable.
void SetPinDialogModule(HINSTANCE module);

}  // namespace vd
