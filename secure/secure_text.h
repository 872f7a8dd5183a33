// Texts of the change-PIN dialog that its code sets itself (the template's own texts are translated by
// the dialog's id).
#pragma once

#include "text_table.h"

// clang-format off
#define VD_SECURE_TEXTS(X) \
  X(kNewPinLabel, 1029, L"New PIN(%d to %d characters):") \
  X(kPlainAdvice, 2025, L"For ensuring that the USBKey safety pleases to become the PIN code setup 6-12 to be combined by the figure or the letter of alphabet to classify big small letter") \
  X(kPinsDiffer, 5000, L"The new and confirm password do not match, please try again.") \
  X(kDefaultPinRefused, 5007, L"Please do NOT use the default PIN as new PIN!") \
  X(kLettersAndDigitsOnly, 5010, L"Your new PIN must be a mixtures of alphabets and numbers, e.g. \"RDM5274W3\".")
// clang-format on

namespace vd {
VD_TEXT_TABLE(secure_text, VD_SECURE_TEXTS)
}  // namespace vd
