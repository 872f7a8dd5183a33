// The standard function list. Every entry is filled: the functions this token does not offer answer
// CKR_FUNCTION_NOT_SUPPORTED with the entry's own signature.
#include "module_functions.h"

namespace simtoken {
namespace {

template <typename... Args>
CK_RV NotSupported(Args...) noexcept {
  return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV GetFunctionListEntry(CK_FUNCTION_LIST_PTR_PTR list);

CK_FUNCTION_LIST MakeList() {
  CK_FUNCTION_LIST f{};
  f.version = CK_VERSION{2, 20};
  f.C_Initialize = Initialize;
  f.C_Finalize = Finalize;
  f.C_GetInfo = GetInfo;
  f.C_GetFunctionList = GetFunctionListEntry;
  f.C_GetSlotList = GetSlotList;
  f.C_GetSlotInfo = GetSlotInfo;
  f.C_GetTokenInfo = GetTokenInfo;
  f.C_GetMechanismList = NotSupported;
  f.C_GetMechanismInfo = NotSupported;
  f.C_InitToken = NotSupported;
  f.C_InitPIN = NotSupported;
  f.C_SetPIN = SetPIN;
  f.C_OpenSession = OpenSession;
  f.C_CloseSession = CloseSession;
  f.C_CloseAllSessions = CloseAllSessions;
  f.C_GetSessionInfo = GetSessionInfo;
  f.C_GetOperationState = NotSupported;
  f.C_SetOperationState = NotSupported;
  f.C_Login = NotSupported;
  f.C_Logout = NotSupported;
  f.C_CreateObject = NotSupported;
  f.C_CopyObject = NotSupported;
  f.C_DestroyObject = DestroyObject;
  f.C_GetObjectSize = NotSupported;
  f.C_GetAttributeValue = GetAttributeValue;
  f.C_SetAttributeValue = NotSupported;
  f.C_FindObjectsInit = FindObjectsInit;
  f.C_FindObjects = FindObjects;
  f.C_FindObjectsFinal = FindObjectsFinal;
  f.C_EncryptInit = NotSupported;
  f.C_Encrypt = NotSupported;
  f.C_EncryptUpdate = NotSupported;
  f.C_EncryptFinal = NotSupported;
  f.C_DecryptInit = NotSupported;
  f.C_Decrypt = NotSupported;
  f.C_DecryptUpdate = NotSupported;
  f.C_DecryptFinal = NotSupported;
  f.C_DigestInit = NotSupported;
  f.C_Digest = NotSupported;
  f.C_DigestUpdate = NotSupported;
  f.C_DigestKey = NotSupported;
  f.C_DigestFinal = NotSupported;
  f.C_SignInit = NotSupported;
  f.C_Sign = NotSupported;
  f.C_SignUpdate = NotSupported;
  f.C_SignFinal = NotSupported;
  f.C_SignRecoverInit = NotSupported;
  f.C_SignRecover = NotSupported;
  f.C_VerifyInit = NotSupported;
  f.C_Verify = NotSupported;
  f.C_VerifyUpdate = NotSupported;
  f.C_VerifyFinal = NotSupported;
  f.C_VerifyRecoverInit = NotSupported;
  f.C_VerifyRecover = NotSupported;
  f.C_DigestEncryptUpdate = NotSupported;
  f.C_DecryptDigestUpdate = NotSupported;
  f.C_SignEncryptUpdate = NotSupported;
  f.C_DecryptVerifyUpdate = NotSupported;
  f.C_GenerateKey = NotSupported;
  f.C_GenerateKeyPair = NotSupported;
  f.C_WrapKey = NotSupported;
  f.C_UnwrapKey = NotSupported;
  f.C_DeriveKey = NotSupported;
  f.C_SeedRandom = NotSupported;
  f.C_GenerateRandom = NotSupported;
  f.C_GetFunctionStatus = NotSupported;
  f.C_CancelFunction = NotSupported;
  f.C_WaitForSlotEvent = NotSupported;
  return f;
}

CK_FUNCTION_LIST g_list = MakeList();

CK_RV GetFunctionListEntry(CK_FUNCTION_LIST_PTR_PTR list) {
  if (!list) return CKR_ARGUMENTS_BAD;
  *list = &g_list;
  return CKR_OK;
}

}  // namespace

}  // namespace simtoken

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) { return simtoken::GetFunctionListEntry(list); }
