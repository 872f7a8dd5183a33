// The Change token Name command: a dialog that renames one token, the label written through the vendor
// table. The window passes its bound module and the selected token:
//   auto name = RunRenameToken(hwnd, tm.Functions(), tm.AuxFunctions(), slot,
//                              [&](HWND d) { EnterTokenDialog(ChangeName, slot, d); },
//                              [&] { LeaveTokenDialog(ChangeName, slot); });
//   if (name) <the token's tree item takes *name>;
// While the dialog is open, posting kTokenRemovedMessage to it (the token was pulled) ends it as cancelled.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "pkcs11.h"

namespace vd {

// The new text of the token's item: its label read back from the token after the write, cut to 31 bytes.
// Nothing when the dialog was cancelled, the token was pulled, no module is bound or the token refused the
// new label (no message is shown for a refusal). A token that cannot be read after a successful write also
// gives nothing: its label-changed event brings the new name.
std::optional<std::wstring> RunRenameToken(HWND owner, CK_FUNCTION_LIST* fl, AuxFunctionList* aux, CK_SLOT_ID slot,
                                           const std::function<void(HWND)>& opened,
                                           const std::function<void()>& closed);

}  // namespace vd
