// The implemented functions of the simulated module, gathered into the function list by module_table.cpp.
#pragma once

#include "module_state.h"

namespace simtoken {

CK_RV Initialize(CK_VOID_PTR initArgs);
CK_RV Finalize(CK_VOID_PTR reserved);
CK_RV GetInfo(CK_INFO_PTR info);
CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count);
CK_RV GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info);
CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info);
CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR app, CK_NOTIFY notify, CK_SESSION_HANDLE_PTR session);
CK_RV CloseSession(CK_SESSION_HANDLE h);
CK_RV CloseAllSessions(CK_SLOT_ID slot);
CK_RV GetSessionInfo(CK_SESSION_HANDLE h, CK_SESSION_INFO_PTR info);
CK_RV SetPIN(CK_SESSION_HANDLE h, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLen, CK_UTF8CHAR_PTR newPin, CK_ULONG newLen);
CK_RV DestroyObject(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object);
CK_RV GetAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count);
CK_RV FindObjectsInit(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count);
CK_RV FindObjects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR count);
CK_RV FindObjectsFinal(CK_SESSION_HANDLE h);

// The vendor table's entries (module_aux_table.cpp gathers them).
CK_RV InitToken(CK_SLOT_ID slot, TokenInitParams* params);
CK_RV SetLabel(CK_SLOT_ID slot, CK_ULONG, CK_ULONG, CK_ULONG, const CK_UTF8CHAR* label32);
CK_RV GetPinInfo(CK_SLOT_ID slot, CK_BYTE* out4);
CK_RV WaitForEvent(CK_FLAGS flags, CK_SLOT_ID* slot, CK_ULONG* code, CK_ULONG* data, void*);

}  // namespace simtoken
