// The vendor table, the one part that differs between the module and its deliberately broken variants
// (no table at all, a table without its event entry): only this file is built once per variant.
#include "module_functions.h"

namespace simtoken {

#ifndef SIMTOKEN_NO_AUX
extern "C" CK_RV E_GetAuxFunctionList(AuxFunctionList** list) {
  static AuxFunctionList table = {
      CK_VERSION{1, 0}, InitToken, SetLabel, GetPinInfo,
#ifdef SIMTOKEN_NULL_EVENT
      nullptr,
#else
      WaitForEvent,
#endif
  };
  if (!list) return CKR_ARGUMENTS_BAD;
  *list = &table;
  return CKR_OK;
}
#endif

}  // namespace simtoken
