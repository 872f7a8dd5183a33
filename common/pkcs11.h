// The one place that declares PKCS#11 for our code: the published 2.x interface with Windows packing
// (1 byte), plus the token vendor's own attribute, event codes and extension table.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
#include <p11-kit/pkcs11.h>
#pragma pack(pop)

// Names the key container of a certificate or private key; an 8-bit string stored with its terminating NUL.
constexpr CK_ATTRIBUTE_TYPE CKA_VENDOR_CONTAINER = 0x80455053UL;

// Event codes that the vendor's event entry (aux entry 3) reports.
enum TokenEventCode : uint32_t {
  TOKEN_EVT_INSERTED = 1,
  TOKEN_EVT_REMOVED = 2,
  TOKEN_EVT_OBJECT_CREATED = 3,
  TOKEN_EVT_OBJECT_DESTROYED = 4,
  TOKEN_EVT_OBJECT_CHANGED = 5,
  TOKEN_EVT_LABEL_CHANGED = 8,
  TOKEN_EVT_BUSY = 256,
  TOKEN_EVT_IDLE = 257,
  TOKEN_EVT_SAVING = 259,
  TOKEN_EVT_SAVING_OK = 260,
  TOKEN_EVT_SAVING_FAILED = 261,
  TOKEN_EVT_KEYGEN = 262,
  TOKEN_EVT_KEYGEN_OK = 263,
  TOKEN_EVT_KEYGEN_FAILED = 264,
  TOKEN_EVT_LOWLEVEL_INIT = 265,
  TOKEN_EVT_LOWLEVEL_INIT_OK = 266,
  TOKEN_EVT_LOWLEVEL_INIT_FAILED = 267,
  TOKEN_EVT_INIT = 268,
  TOKEN_EVT_INIT_OK = 269,
  TOKEN_EVT_INIT_FAILED = 270,
};

// The object a TOKEN_EVT_SAVING event (and its success and failure) names in its data.
enum TokenSavedObject : uint32_t {
  TOKEN_OBJ_CERTIFICATE = 1,
  TOKEN_OBJ_PUBLIC_KEY = 2,
  TOKEN_OBJ_PRIVATE_KEY = 3,
};

#pragma pack(push, 1)

// The block handed to aux entry 0 to re-initialise a token. 51 bytes on the 32-bit product; on the 64-bit
// test build the pointer fields widen and both sides read this same declaration.
struct TokenInitParams {
  uint8_t firmwareMajor;
  uint8_t firmwareMinor;
  const char* label;        // zero-terminated UTF-8
  uint32_t reserved0;
  const char* soPin;        // the constant "pellam"
  const char* userPin;      // the default user PIN
  uint8_t reserved1;
  uint8_t maxSoTries;       // 6
  uint8_t maxUserTries;     // 6
  uint8_t reserved2;
  uint32_t totalPublicMemory;
  uint32_t totalPrivateMemory;
  uint8_t reserved3[21];
};

#pragma pack(pop)

#if !defined(_WIN64)
static_assert(sizeof(TokenInitParams) == 51, "the vendor reads a 51-byte block");
static_assert(sizeof(CK_TOKEN_INFO) == 160, "CK_TOKEN_INFO must have the packed Windows layout");
#endif

typedef CK_RV (*AuxInitToken)(CK_SLOT_ID slot, TokenInitParams* params);
typedef CK_RV (*AuxSetLabel)(CK_SLOT_ID slot, CK_ULONG, CK_ULONG, CK_ULONG, const CK_UTF8CHAR* label32);
typedef CK_RV (*AuxGetPinInfo)(CK_SLOT_ID slot, CK_BYTE* out4);
typedef CK_RV (*AuxWaitEvent)(CK_FLAGS flags, CK_SLOT_ID* slot, CK_ULONG* code, CK_ULONG* data, void* reserved);

// The vendor extension table behind E_GetAuxFunctionList: a 2-byte version, then the entries by position.
#pragma pack(push, 1)
struct AuxFunctionList {
  CK_VERSION version;
  AuxInitToken initToken;        // entry 0
  AuxSetLabel setLabel;          // entry 1
  AuxGetPinInfo getPinInfo;      // entry 2
  AuxWaitEvent waitForEvent;     // entry 3
};
#pragma pack(pop)

typedef CK_RV (*GetAuxFunctionListFn)(AuxFunctionList** list);
