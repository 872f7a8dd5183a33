// The window's change-PIN command: the PIN change itself (secure/), then one message for its result.
#pragma once

#include <functional>
#include <string>

#include "pkcs11.h"

namespace vd {

// The message for a PIN change's result (1, cancelled, has none: empty). For a wrong old PIN the tries
// left are asked for through `readPinInfo` (the vendor's PIN information: byte 3 is the tries left).
std::wstring PinChangeMessage(CK_RV result, const std::function<CK_RV(CK_BYTE* out4)>& readPinInfo);

}  // namespace vd
