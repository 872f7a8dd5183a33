// A token module that misbehaves on purpose, for the manager's bad-input tests: one token in slot 1 with
// one certificate object whose attributes are garbage in the way the configured mode says. It counts the
// sessions left open. For the binding tests it hands out one entry of its tables as null: the one named by
// the environment variable BADMODULE_NULL_ENTRY ("C_GetSlotList", "E_WaitForEvent"), read whenever a
// table is asked for.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "p11count_layout.h"
#include "pkcs11.h"

namespace {

enum Mode : int {
  kGarbageValue = 1,     // a value that is not DER
  kZeroLengths = 2,      // every attribute empty
  kGrowsBetweenCalls = 3,  // every read finds the value longer than the buffer it got (CKR_BUFFER_TOO_SMALL)
  kClaimsMoreThanRead = 4, // the second read reports a length beyond the caller's buffer, with CKR_OK
  kHugeLength = 5,       // a length no token could hold
  kUnavailableButOk = 6, // CK_UNAVAILABLE_INFORMATION with CKR_OK
  kPulledBetweenCalls = 7, // the token goes between the length query and the read
  kEndlessSearch = 8,    // C_FindObjects never runs dry
};

constexpr CK_SLOT_ID kSlot = 1;
constexpr CK_OBJECT_HANDLE kCert = 100;
const char kGarbage[] = "this is no certificate";
const char kLabel[] = "Garbage label";

int g_mode = kGarbageValue;
LONG g_openSessions = 0;
bool g_pulled = false;
bool g_searching = false;
bool g_returned = false;
HANDLE g_finalized = nullptr;

CK_RV Initialize(void*) {
  g_pulled = false;
  if (!g_finalized) g_finalized = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(g_finalized);
  return CKR_OK;
}
CK_RV Finalize(void*) {
  if (g_finalized) ::SetEvent(g_finalized);
  return CKR_OK;
}
CK_RV GetSlotList(CK_BBOOL, CK_SLOT_ID* list, CK_ULONG* count) {
  if (!count) return CKR_ARGUMENTS_BAD;
  if (list) {
    if (*count < 1) return CKR_BUFFER_TOO_SMALL;
    list[0] = kSlot;
  }
  *count = 1;
  return CKR_OK;
}
CK_RV GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info) {
  if (slot != kSlot || !info) return CKR_SLOT_ID_INVALID;
  std::memset(info, ' ', sizeof *info);
  std::memcpy(info->slotDescription, "Bad Slot", 8);
  info->flags = g_pulled ? 0 : CKF_TOKEN_PRESENT;
  return CKR_OK;
}
CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
  if (slot != kSlot || !info) return CKR_SLOT_ID_INVALID;
  if (g_pulled) return CKR_DEVICE_REMOVED;
  std::memset(info, ' ', sizeof *info);
  std::memcpy(info->label, "Bad Token", 9);
  info->flags = CKF_TOKEN_INITIALIZED;
  return CKR_OK;
}
CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
  if (slot != kSlot || !session) return CKR_SLOT_ID_INVALID;
  if (g_pulled) return CKR_DEVICE_REMOVED;
  *session = 1 + static_cast<CK_SESSION_HANDLE>(::InterlockedIncrement(&g_openSessions));
  return CKR_OK;
}
CK_RV CloseSession(CK_SESSION_HANDLE) {
  ::InterlockedDecrement(&g_openSessions);  // a session of a pulled token is gone either way
  return g_pulled ? CKR_DEVICE_REMOVED : CKR_OK;
}
CK_RV FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE* tmpl, CK_ULONG count) {
  if (g_pulled) return CKR_DEVICE_REMOVED;
  // Its one object is a certificate: a search for certificates, or for everything, finds it; there are no
  // keys on this token.
  g_searching = count == 0 || (tmpl && tmpl[0].type == CKA_CLASS && tmpl[0].ulValueLen == sizeof(CK_OBJECT_CLASS) &&
                *static_cast<CK_OBJECT_CLASS*>(tmpl[0].pValue) == CKO_CERTIFICATE);
  g_returned = false;
  return CKR_OK;
}
CK_RV FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* count) {
  if (!out || !count || max < 1) return CKR_ARGUMENTS_BAD;
  if (g_pulled) return CKR_DEVICE_REMOVED;
  *count = 0;
  if (g_searching && (!g_returned || g_mode == kEndlessSearch)) {
    out[0] = kCert;
    *count = 1;
    g_returned = true;
  }
  return CKR_OK;
}
CK_RV FindObjectsFinal(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV CloseAllSessions(CK_SLOT_ID slot) {
  if (slot != kSlot) return CKR_SLOT_ID_INVALID;
  ::InterlockedExchange(&g_openSessions, 0);
  return g_pulled ? CKR_DEVICE_REMOVED : CKR_OK;
}
CK_RV SetPin(CK_SESSION_HANDLE, CK_UTF8CHAR*, CK_ULONG, CK_UTF8CHAR*, CK_ULONG) { return CKR_PIN_INCORRECT; }

CK_RV GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attrs, CK_ULONG count) {
  if (g_pulled) return CKR_DEVICE_REMOVED;
  if (object != kCert) return CKR_OBJECT_HANDLE_INVALID;
  bool query = count > 0 && attrs[0].pValue == nullptr;
  if (!query && g_mode == kPulledBetweenCalls) {
    g_pulled = true;
    return CKR_DEVICE_REMOVED;
  }
  CK_RV rv = CKR_OK;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& a = attrs[i];
    const void* data = nullptr;
    CK_ULONG len = 0;
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    switch (a.type) {
      case CKA_CLASS: data = &cls; len = sizeof cls; break;
      case CKA_VALUE: data = kGarbage; len = sizeof kGarbage - 1; break;
      case CKA_LABEL: data = kLabel; len = sizeof kLabel - 1; break;
      case CKA_ID: data = "\x01"; len = 1; break;
      case CKA_VENDOR_CONTAINER: data = "Box"; len = 4; break;
      default: a.ulValueLen = CK_UNAVAILABLE_INFORMATION; rv = CKR_ATTRIBUTE_TYPE_INVALID; continue;
    }
    if (a.type != CKA_CLASS) {
      if (g_mode == kZeroLengths) len = 0;
      if (g_mode == kHugeLength && a.type == CKA_VALUE) len = 0x7FFFFFF0;
      if (g_mode == kUnavailableButOk && a.type == CKA_VALUE) len = CK_UNAVAILABLE_INFORMATION;
      if (g_mode == kGrowsBetweenCalls && a.pValue && a.type == CKA_VALUE) len = a.ulValueLen + 64;
    }
    if (!a.pValue) {
      a.ulValueLen = len;
      continue;
    }
    if (g_mode == kClaimsMoreThanRead && a.type == CKA_VALUE) {
      std::memcpy(a.pValue, data, std::min<CK_ULONG>(len, a.ulValueLen));
      a.ulValueLen = len + 4096;  // says it wrote more than the buffer holds
      continue;
    }
    if (a.ulValueLen < len) {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_BUFFER_TOO_SMALL;
      continue;
    }
    if (data && len && len != CK_UNAVAILABLE_INFORMATION && len < 0x10000) std::memcpy(a.pValue, data, len);
    a.ulValueLen = len;
  }
  return rv;
}

CK_FUNCTION_LIST g_functions = [] {
  CK_FUNCTION_LIST f{};
  f.version = {2, 20};
  f.C_Initialize = Initialize;
  f.C_Finalize = Finalize;
  f.C_GetSlotList = GetSlotList;
  f.C_GetSlotInfo = GetSlotInfo;
  f.C_GetTokenInfo = GetTokenInfo;
  f.C_OpenSession = OpenSession;
  f.C_CloseSession = CloseSession;
  f.C_FindObjectsInit = FindObjectsInit;
  f.C_FindObjects = FindObjects;
  f.C_FindObjectsFinal = FindObjectsFinal;
  f.C_GetAttributeValue = GetAttributeValue;
  f.C_CloseAllSessions = CloseAllSessions;
  f.C_SetPIN = SetPin;
  return f;
}();

CK_RV WaitForEvent(CK_FLAGS, CK_SLOT_ID*, CK_ULONG*, CK_ULONG*, void*) {
  if (g_finalized) ::WaitForSingleObject(g_finalized, INFINITE);
  return CKR_CRYPTOKI_NOT_INITIALIZED;
}

AuxFunctionList g_aux = {{1, 0}, nullptr, nullptr, nullptr, WaitForEvent};

// Where each entry lies in its table, by the names the call counter uses.
struct NamedEntry {
  const char* name;
  size_t offset;
};
#define BAD_STANDARD_ENTRY(name) {#name, offsetof(CK_FUNCTION_LIST, name)},
constexpr NamedEntry kStandardEntries[] = {P11COUNT_STANDARD(BAD_STANDARD_ENTRY)};
#undef BAD_STANDARD_ENTRY
constexpr NamedEntry kVendorEntries[] = {{"E_InitToken", offsetof(AuxFunctionList, initToken)},
                                         {"E_SetLabel", offsetof(AuxFunctionList, setLabel)},
                                         {"E_GetPinInfo", offsetof(AuxFunctionList, getPinInfo)},
                                         {"E_WaitForEvent", offsetof(AuxFunctionList, waitForEvent)}};

// The copies handed out, with the named entry cleared.
CK_FUNCTION_LIST g_handedFunctions;
AuxFunctionList g_handedAux;

template <typename Table>
Table* HandOut(const Table& whole, Table& copy, std::span<const NamedEntry> entries) {
  copy = whole;
  char name[64] = {};
  const DWORD n = ::GetEnvironmentVariableA("BADMODULE_NULL_ENTRY", name, sizeof name);
  if (n == 0 || n >= sizeof name) return &copy;
  for (const NamedEntry& e : entries) {
    if (std::strcmp(e.name, name) == 0) std::memset(reinterpret_cast<char*>(&copy) + e.offset, 0, sizeof(void*));
  }
  return &copy;
}

}  // namespace

extern "C" {
CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
  if (!list) return CKR_ARGUMENTS_BAD;
  *list = HandOut(g_functions, g_handedFunctions, kStandardEntries);
  return CKR_OK;
}
CK_RV E_GetAuxFunctionList(AuxFunctionList** list) {
  if (!list) return CKR_ARGUMENTS_BAD;
  *list = HandOut(g_aux, g_handedAux, kVendorEntries);
  return CKR_OK;
}
void BadModule_Configure(int mode) { g_mode = mode; }
LONG BadModule_OpenSessions() { return g_openSessions; }
}
