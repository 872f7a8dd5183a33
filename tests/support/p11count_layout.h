// What p11count.dll and its reader (call_counts.h) share: the counted functions in their order, and the
// shared-memory block that holds one count per function. Only 32-bit fields, so a 32-bit program's counts
// can be read by a 64-bit test and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Every entry of the standard function list, in the list's order.
#define P11COUNT_STANDARD(X)                                                                                  \
  X(C_Initialize) X(C_Finalize) X(C_GetInfo) X(C_GetFunctionList) X(C_GetSlotList) X(C_GetSlotInfo)            \
  X(C_GetTokenInfo) X(C_GetMechanismList) X(C_GetMechanismInfo) X(C_InitToken) X(C_InitPIN) X(C_SetPIN)       \
  X(C_OpenSession) X(C_CloseSession) X(C_CloseAllSessions) X(C_GetSessionInfo) X(C_GetOperationState)        \
  X(C_SetOperationState) X(C_Login) X(C_Logout) X(C_CreateObject) X(C_CopyObject) X(C_DestroyObject)          \
  X(C_GetObjectSize) X(C_GetAttributeValue) X(C_SetAttributeValue) X(C_FindObjectsInit) X(C_FindObjects)      \
  X(C_FindObjectsFinal) X(C_EncryptInit) X(C_Encrypt) X(C_EncryptUpdate) X(C_EncryptFinal) X(C_DecryptInit)   \
  X(C_Decrypt) X(C_DecryptUpdate) X(C_DecryptFinal) X(C_DigestInit) X(C_Digest) X(C_DigestUpdate)             \
  X(C_DigestKey) X(C_DigestFinal) X(C_SignInit) X(C_Sign) X(C_SignUpdate) X(C_SignFinal) X(C_SignRecoverInit) \
  X(C_SignRecover) X(C_VerifyInit) X(C_Verify) X(C_VerifyUpdate) X(C_VerifyFinal) X(C_VerifyRecoverInit)      \
  X(C_VerifyRecover) X(C_DigestEncryptUpdate) X(C_DecryptDigestUpdate) X(C_SignEncryptUpdate)                 \
  X(C_DecryptVerifyUpdate) X(C_GenerateKey) X(C_GenerateKeyPair) X(C_WrapKey) X(C_UnwrapKey) X(C_DeriveKey)    \
  X(C_SeedRandom) X(C_GenerateRandom) X(C_GetFunctionStatus) X(C_CancelFunction) X(C_WaitForSlotEvent)

// The vendor table's four entries, by position, under the names the simulated module's fault rules use.
#define P11COUNT_VENDOR(X) X(E_InitToken) X(E_SetLabel) X(E_GetPinInfo) X(E_WaitForEvent)

namespace p11count {

enum Function : uint32_t {
#define P11COUNT_ENUM(name) k_##name,
  P11COUNT_STANDARD(P11COUNT_ENUM) P11COUNT_VENDOR(P11COUNT_ENUM) k_E_GetAuxFunctionList,
#undef P11COUNT_ENUM
  kFunctionCount
};

constexpr const char* kNames[kFunctionCount] = {
#define P11COUNT_NAME(name) #name,
    P11COUNT_STANDARD(P11COUNT_NAME) P11COUNT_VENDOR(P11COUNT_NAME) "E_GetAuxFunctionList",
#undef P11COUNT_NAME
};

constexpr uint32_t kMagic = 0x50313143;  // "C11P"

struct Block {
  uint32_t magic;
  uint32_t functions;  // kFunctionCount of the writer
  uint32_t calls[kFunctionCount];
};

// The kernel object name of the counts called `name` (P11COUNT_NAME; by default the process id).
inline std::wstring MappingName(const std::wstring& name) { return L"Local\\p11count-" + name; }

}  // namespace p11count
