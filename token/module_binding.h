// Binding of the vendor PKCS#11 module: loaded by file name, both exports resolved, both tables fetched.
#pragma once

#include <windows.h>

#include <string>

#include "handles.h"
#include "pkcs11.h"

namespace vd {

class ModuleBinding {
 public:
  ModuleBinding() = default;
  ~ModuleBinding() { Release(); }
  ModuleBinding(const ModuleBinding&) = delete;
  ModuleBinding& operator=(const ModuleBinding&) = delete;

  // 0 when bound (also when it already was). A missing file, a missing export or a missing event entry
  // gives CKR_FUNCTION_FAILED, a failing export its own result; on any failure nothing stays loaded.
  CK_RV Bind(const std::wstring& fileName);
  void Release();

  bool IsBound() const { return static_cast<bool>(module_); }
  CK_FUNCTION_LIST* Functions() const { return functions_; }
  AuxFunctionList* Aux() const { return aux_; }

 private:
  UniqueModule module_;
  CK_FUNCTION_LIST* functions_ = nullptr;
  AuxFunctionList* aux_ = nullptr;
};

// A read-write serial session that is closed on every path.
class Pkcs11Session {
 public:
  Pkcs11Session() = default;
  ~Pkcs11Session() { Close(); }
  Pkcs11Session(const Pkcs11Session&) = delete;
  Pkcs11Session& operator=(const Pkcs11Session&) = delete;
  Pkcs11Session(Pkcs11Session&& o) noexcept : fl_(o.fl_), h_(o.h_), open_(o.open_) { o.open_ = false; }
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
  // The result of C_CloseSession (0 when nothing was open).
  CK_RV Close();
  CK_SESSION_HANDLE get() const { return h_; }
  bool IsOpen() const { return open_; }

 private:
  CK_FUNCTION_LIST* fl_ = nullptr;
  CK_SESSION_HANDLE h_ = 0;
  bool open_ = false;
};

// True when C_GetSlotInfo succeeds and reports a token in the slot.
bool TokenPresent(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot);

}  // namespace vd
