#include "module_binding.h"

namespace vd {
namespace {

bool HasEntriesWeCall(const CK_FUNCTION_LIST& f) {
  return f.version.major == 2 && f.C_Initialize && f.C_Finalize && f.C_GetSlotList && f.C_GetSlotInfo &&
         f.C_GetTokenInfo && f.C_OpenSession && f.C_CloseSession && f.C_FindObjectsInit && f.C_FindObjects &&
         f.C_FindObjectsFinal && f.C_GetAttributeValue;
}

}  // namespace

CK_RV ModuleBinding::Bind(const std::wstring& fileName) {
  if (module_) return CKR_OK;
  UniqueModule module(::LoadLibraryW(fileName.c_str()));
  if (!module) return CKR_FUNCTION_FAILED;
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(module.get(), "C_GetFunctionList")));
  auto getAux = reinterpret_cast<GetAuxFunctionListFn>(
      reinterpret_cast<void*>(::GetProcAddress(module.get(), "E_GetAuxFunctionList")));
  if (!getList || !getAux) return CKR_FUNCTION_FAILED;
  CK_FUNCTION_LIST* functions = nullptr;
  CK_RV rv = getList(&functions);
  if (rv != CKR_OK) return rv;
  AuxFunctionList* aux = nullptr;
  rv = getAux(&aux);
  if (rv != CKR_OK) return rv;
  // Everything the monitor and the token list rely on hangs off these two tables.
  if (!functions || !aux || !aux->waitForEvent || !HasEntriesWeCall(*functions)) return CKR_FUNCTION_FAILED;
  module_ = std::move(module);
  functions_ = functions;
  aux_ = aux;
  return CKR_OK;
}

void ModuleBinding::Release() {
  functions_ = nullptr;
  aux_ = nullptr;
  module_.reset();
}

}  // namespace vd
