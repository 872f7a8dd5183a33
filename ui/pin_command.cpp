#include "pin_command.h"

#include "cert_manager_dlg.h"
#include "change_user_pin.h"
#include "ui_texts.h"

namespace vd {

namespace {

constexpr size_t kMaxMessage = 259;
constexpr size_t kTriesLeftByte = 3;

}  // namespace

std::wstring PinChangeMessage(CK_RV result, const std::function<CK_RV(CK_BYTE* out4)>& readPinInfo) {
  std::wstring text;
  switch (result) {
    case kPinChangeCancelled:
      return {};
    case CKR_OK:
      text = Text(ui_text::kPinChanged);
      break;
    case CKR_DEVICE_REMOVED:
      text = Text(ui_text::kPinTokenRemoved);
      break;
    case CKR_PIN_LOCKED:
      text = Text(ui_text::kPinBlocked);
      break;
    case CKR_PIN_INCORRECT: {
      CK_BYTE info[4] = {};
      const CK_RV rv = readPinInfo ? readPinInfo(info) : CKR_FUNCTION_NOT_SUPPORTED;
      if (rv != CKR_OK) {
        text = FormatText(ui_text::kPinTriesUnreadable, {static_cast<unsigned>(rv)});
      } else if (info[kTriesLeftByte] == 0) {
        text = Text(ui_text::kPinBlocked);
      } else if (info[kTriesLeftByte] == 1) {
        text = Text(ui_text::kPinLastChance);
      } else {
        text = FormatText(ui_text::kPinTriesLeft, {static_cast<int>(info[kTriesLeftByte])});
      }
      break;
    }
    default:
      text = FormatText(ui_text::kPinChangeFailed, {static_cast<unsigned>(result)});
      break;
  }
  if (text.size() > kMaxMessage) text.resize(kMaxMessage);
  return text;
}

CK_RV CertManagerDlg::ReadPinInfo(unsigned long key, CK_BYTE* out4) {
  AuxFunctionList* aux = services_.tokens->AuxFunctions();
  return aux && aux->getPinInfo ? aux->getPinInfo(key, out4) : CKR_FUNCTION_NOT_SUPPORTED;
}

bool CertManagerDlg::PinBlocked(unsigned long key) {
  CK_BYTE info[4] = {};
  return ReadPinInfo(key, info) == CKR_OK && info[kTriesLeftByte] == 0;
}

long CertManagerDlg::ChangePin(unsigned long key, bool forced) {
  if (gate_->Closed()) return static_cast<long>(kPinChangeCancelled);
  CK_FUNCTION_LIST* fl = services_.tokens->Functions();
  PinDialogWatch watch;
  watch.opened = [this, key](HWND dialog) {
    tokenDialogs_.Enter(OpenTokenDialogs::Kind::ChangePin, key, dialog);
    // A terminate that came while the dialog was on its way found nothing to cancel.
    if (gate_->Closed()) ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  };
  watch.closed = [this, key] { tokenDialogs_.Leave(OpenTokenDialogs::Kind::ChangePin, key); };
  watch.isolated = [this, key](bool isolated) { OnIsolatedRun(key, isolated); };
  ++pinChanges_;
  const CK_RV result = ChangeUserPin(fl, key, forced, watch);
  --pinChanges_;
  // Forced changes that came meanwhile run once this one has said how it went, one at a time.
  if (pinChanges_ == 0 && !forcedWaiting_.empty()) ::PostMessageW(hwnd_, kForcedChangesMessage, 0, 0);
  // A terminate request waits for no answer: the program is about to end.
  if (result == kPinChangeCancelled || !gate_->MayOpen()) return static_cast<long>(result);
  const std::wstring message = PinChangeMessage(result, [this, key](CK_BYTE* out) { return ReadPinInfo(key, out); });
  ::MessageBoxW(hwnd_, message.c_str(), Text(ui_text::kMessageCaption).c_str(), MB_OK | MB_ICONINFORMATION);
  return static_cast<long>(result);
}

}  // namespace vd
