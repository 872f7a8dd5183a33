#include "change_pin_controller.h"

#include "secure_ids.h"

namespace vd {

void ChangePinController::WipeCopies() {
  WipeString(oldPin_.get());
  WipeString(newPin_.get());
}

void ChangePinController::Release() {
  WipeCopies();
  PinDialogController::Release();
}

bool ChangePinController::Initialise() {
  if (!PinDialogController::Initialise()) return false;
  for (int id : {IDC_OLD_PIN, IDC_NEW_PIN, IDC_CONFIRM_PIN})
    if (!RegisterEdit(id)) return false;
  if (limits_.minimum != 0) {
    for (auto& [id, edit] : edits_) {
      edit->SetMinimumLength(limits_.minimum);
      ::SendMessageW(edit->Window(), EM_LIMITTEXT, static_cast<WPARAM>(limits_.maximum), 0);
    }
  }
  SetActiveEdit(IDC_OLD_PIN);
  return true;
}

}  // namespace vd
