// Binding of the vendor PKCS#11 module: loaded by file name, both exports resolved, both tables fetched.
#pragma once

#include <windows.h>

#include <string>

#include "handles.h"
#include "pkcs11.h"
#include "pkcs11_session.h"

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

}  // namespace vd
