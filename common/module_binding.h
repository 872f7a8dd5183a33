// Binding of the token vendor's PKCS#11 module, for vardeck, the plug-in and the native messaging host:
// the module loaded by its full path, its tables fetched and checked against what the binding program calls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>

#include "handles.h"
#include "pkcs11.h"

namespace vd {

// What a program calls in the module's tables, each entry by its place in its table. A module whose tables
// lack one of these entries is refused when it is bound, so that no call ever goes through a null entry.
struct ModuleNeeds {
  std::span<const size_t> functions;  // offsets in CK_FUNCTION_LIST
  // The vendor table is fetched by Bind and required, with these entries (offsets in AuxFunctionList),
  // only when auxRequired; otherwise the program asks for it with BindAux and copes without it.
  bool auxRequired;
  std::span<const size_t> aux;
};

// vardeck: every token operation of the window, and the monitor waiting in the vendor's event entry.
extern const ModuleNeeds kVardeckNeeds;
// The page's token queries (plug-in and host); the vendor table is optional, its entry checked where used.
extern const ModuleNeeds kTokenQueryNeeds;

// For a program (never a DLL, which would change its host's search): where the system allows, the DLLs the
// program loads by name come from the system folder and its own folder only; else at least the current
// folder is left out. Functions of later Windows are looked up at run time.
void LimitDllSearch();

class ModuleBinding {
 public:
  explicit ModuleBinding(const ModuleNeeds& needs = kVardeckNeeds) : needs_(needs) {}
  ~ModuleBinding() { Release(); }
  ModuleBinding(const ModuleBinding&) = delete;
  ModuleBinding& operator=(const ModuleBinding&) = delete;

  // Loads the module by its path (vardeck's wide name, the plug-in's 8-bit one); a bare file name is the
  // file of that name beside the program or DLL this code is linked into, never one along the search path.
  // Then fetches its tables. 0 when bound (also when it already was). A missing file,
  // a missing export, a table that is absent, of another major version than 2 or lacking a needed entry
  // give CKR_FUNCTION_FAILED, a failing export its own result; on any failure nothing stays loaded.
  CK_RV Bind(const std::wstring& fileName);
  CK_RV Bind(const std::string& fileName);
  // The vendor table of the bound module when the program did not require it: 0, CKR_FUNCTION_FAILED for
  // a missing export, table or needed entry, or the export's own result. The module stays bound.
  CK_RV BindAux();
  void Release();

  bool IsBound() const { return static_cast<bool>(module_); }
  CK_FUNCTION_LIST* Functions() const { return functions_; }
  AuxFunctionList* Aux() const { return aux_; }

 private:
  CK_RV Adopt(UniqueModule module);
  CK_RV FetchAux(GetAuxFunctionListFn getAux, AuxFunctionList** aux) const;

  ModuleNeeds needs_;
  UniqueModule module_;
  CK_FUNCTION_LIST* functions_ = nullptr;
  AuxFunctionList* aux_ = nullptr;
};

}  // namespace vd
