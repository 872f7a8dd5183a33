// The owners of a PKCS#11 session and of a running object search, shared by vardeck and the plug-in: each
// is closed on every path, so that no operation leaves a session or a search behind in the module.
#pragma once

#include "pkcs11.h"

namespace vd {

// A read-write serial session, never logged in.
class Pkcs11Session {
 public:
  Pkcs11Session() = default;
  ~Pkcs11Session() { Close(); }
  Pkcs11Session(const Pkcs11Session&) = delete;
  Pkcs11Session& operator=(const Pkcs11Session&) = delete;
  Pkcs11Session(Pkcs11Session&& o) noexcept : fl_(o.fl_), h_(o.h_), open_(o.open_) {
    o.open_ = false;
  }
  Pkcs11Session& operator=(Pkcs11Session&& o) noexcept {
    if (this != &o) {
      Close();
      fl_ = o.fl_;
      h_ = o.h_;
      open_ = o.open_;
      o.open_ = false;
    }
    return *this;
  }

  CK_RV Open(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot);
  // The result of C_CloseSession (CKR_OK when nothing was open). The handle is closed a second time only
  // after a failure that may pass, never after one that says the module let go of it.
  CK_RV Close();
  CK_SESSION_HANDLE get() const { return h_; }
  bool IsOpen() const { return open_; }

 private:
  CK_FUNCTION_LIST* fl_ = nullptr;
  CK_SESSION_HANDLE h_ = 0;
  bool open_ = false;
};

// C_FindObjectsInit in a session; C_FindObjectsFinal when the scope ends unless Final() ran first.
class Pkcs11Search {
 public:
  Pkcs11Search(CK_FUNCTION_LIST* fl, CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count);
  ~Pkcs11Search() { Final(); }
  Pkcs11Search(const Pkcs11Search&) = delete;
  Pkcs11Search& operator=(const Pkcs11Search&) = delete;

  // The result of C_FindObjectsInit.
  CK_RV InitResult() const { return init_; }
  bool Active() const { return active_; }
  // C_FindObjects for up to `capacity` handles.
  CK_RV Next(CK_OBJECT_HANDLE* handles, CK_ULONG capacity, CK_ULONG* found);
  // The result of C_FindObjectsFinal (CKR_OK when no search was active).
  CK_RV Final();

 private:
  CK_FUNCTION_LIST* fl_;
  CK_SESSION_HANDLE session_;
  CK_RV init_ = CKR_OK;
  bool active_ = false;
};

// True when C_GetSlotInfo succeeds and reports a token in the slot.
bool TokenPresent(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot);

}  // namespace vd
