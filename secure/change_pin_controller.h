// The change-PIN dialog's controller: the three secure edits (old, new, confirmation) with the token's
// lengths, and the copies of the old and new PIN taken when the user's PIN is accepted.
#pragma once

#include "pin_dialog_controller.h"
#include "pin_rules.h"
#include "secret_memory.h"

namespace vd {

class ChangePinController : public PinDialogController {
 public:
  ChangePinController(HINSTANCE module, CK_ULONG tokenMinimum, CK_ULONG tokenMaximum)
      : PinDialogController(module), limits_(PinLimitsFor(tokenMinimum, tokenMaximum)) {}

  void Release() override;     // wipes both copies first
  bool Initialise() override;  // registers 2016, 2017 and 2021 with their limits

  const PinLimits& Limits() const { return limits_; }
  std::wstring& OldPin() { return oldPin_.get(); }
  std::wstring& NewPin() { return newPin_.get(); }
  void WipeCopies();

 private:
  PinLimits limits_;
  SecretWide oldPin_;
  SecretWide newPin_;
};

}  // namespace vd
