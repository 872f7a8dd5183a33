#include "pkcs11_session.h"

namespace vd {

CK_RV Pkcs11Session::Open(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot) {
  Close();
  if (!fl) return CKR_GENERAL_ERROR;
  CK_SESSION_HANDLE h = 0;
  CK_RV rv = fl->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h);
  if (rv != CKR_OK) return rv;
  fl_ = fl;
  h_ = h;
  open_ = true;
  return CKR_OK;
}

CK_RV Pkcs11Session::Close() {
  if (!open_) return CKR_OK;
  open_ = false;
  CK_RV rv = fl_->C_CloseSession(h_);
  // These answers say the handle is no longer ours: the module dropped it with the token or the session.
  // A module that reuses handle numbers may already have handed it to another thread's session, which a
  // second close would end.
  if (rv == CKR_OK || rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED || rv == CKR_DEVICE_REMOVED ||
      rv == CKR_CRYPTOKI_NOT_INITIALIZED)
    return rv;
  // A close that failed for a passing reason (a device or general error) leaves the session open in the
  // module: ask once more, so that a hiccup of the token does not leave sessions behind for the run.
  return fl_->C_CloseSession(h_) == CKR_OK ? CKR_OK : rv;
}

Pkcs11Search::Pkcs11Search(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count)
    : fl_(fl), session_(session) {
  init_ = fl_ ? fl_->C_FindObjectsInit(session_, tmpl, count) : CKR_GENERAL_ERROR;
  active_ = init_ == CKR_OK;
}

CK_RV Pkcs11Search::Next(CK_OBJECT_HANDLE* handles, CK_ULONG capacity, CK_ULONG* found) {
  *found = 0;
  if (!active_) return CKR_OPERATION_NOT_INITIALIZED;
  return fl_->C_FindObjects(session_, handles, capacity, found);
}

CK_RV Pkcs11Search::Final() {
  if (!active_) return CKR_OK;
  active_ = false;
  return fl_->C_FindObjectsFinal(session_);
}

bool TokenPresent(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot) {
  if (!fl) return false;
  CK_SLOT_INFO info{};
  return fl->C_GetSlotInfo(slot, &info) == CKR_OK && (info.flags & CKF_TOKEN_PRESENT) != 0;
}

}  // namespace vd
