#include "change_user_pin.h"

#include <atomic>

#include "pin_strings.h"
#include "pkcs11_session.h"
#include "plain_pin_run.h"
#include "secret_memory.h"
#include "secure_pin_run.h"
#include "token_dialogs.h"

namespace vd {
namespace {

HINSTANCE g_module = nullptr;
std::atomic<bool> g_busy{false};

// One change at a time: the window keeps dispatching while a dialog runs, and the run's PIN strings and
// the current secure edit are process-wide.
class BusyFlag {
 public:
  BusyFlag() : taken_(!g_busy.exchange(true)) {}
  ~BusyFlag() {
    if (taken_) g_busy = false;
  }
  bool Taken() const { return taken_; }

 private:
  bool taken_;
};

// The result of the dialog as ChangeUserPin reports it, or CKR_OK to go on with the PINs.
CK_RV DialogOutcome(INT_PTR result) {
  if (result == kTokenRemovedResult) return CKR_DEVICE_REMOVED;
  return result == 1 ? CKR_OK : kPinChangeCancelled;
}

}  // namespace

void SetPinDialogModule(HINSTANCE module) { g_module = module; }

CK_RV ChangeUserPin(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot, bool forced, const PinDialogWatch& watch) {
  if (!fl || !fl->C_GetTokenInfo || !fl->C_SetPIN || !fl->C_OpenSession || !fl->C_CloseSession)
    return CKR_GENERAL_ERROR;
  BusyFlag busy;
  if (!busy.Taken()) return kPinChangeCancelled;
  CK_TOKEN_INFO info{};
  CK_RV rv = fl->C_GetTokenInfo(slot, &info);
  if (rv != CKR_OK) return rv;

  SecretBytes oldUtf8, newUtf8;
  bool converted = false;
  bool done = false;
  if (!forced) {
    SecureRunResult run = RunSecurePinDialog(info.ulMinPinLen, info.ulMaxPinLen, &watch, g_module);
    if (run.started) {
      done = true;
      rv = DialogOutcome(run.result);
      if (rv == CKR_OK)
        converted = SecretToUtf8(SecureRunOldPin(), oldUtf8.get()) && SecretToUtf8(SecureRunNewPin(), newUtf8.get());
      WipeSecureRunPins();
      if (rv != CKR_OK) return rv;
    }
  }
  if (!done) {
    SecretWide oldPin, newPin;
    rv = DialogOutcome(
        RunPlainPinDialog(forced, info.ulMinPinLen, info.ulMaxPinLen, oldPin.get(), newPin.get(), &watch, g_module));
    if (rv != CKR_OK) return rv;
    converted = SecretToUtf8(oldPin.get(), oldUtf8.get()) && SecretToUtf8(newPin.get(), newUtf8.get());
  }
  // Both copies are wiped by their owners on every return below.
  if (!converted) return CKR_GENERAL_ERROR;
  Pkcs11Session session;
  rv = session.Open(fl, slot);
  if (rv != CKR_OK) return rv;
  std::string& o = oldUtf8.get();
  std::string& n = newUtf8.get();
  rv = fl->C_SetPIN(session.get(), reinterpret_cast<CK_UTF8CHAR_PTR>(o.data()), static_cast<CK_ULONG>(o.size()),
                    reinterpret_cast<CK_UTF8CHAR_PTR>(n.data()), static_cast<CK_ULONG>(n.size()));
  session.Close();
  return rv;
}

}  // namespace vd
