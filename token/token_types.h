// What vardeck knows about a present token and the certificates read from it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pkcs11.h"

namespace vd {

// The message the token monitor posts to its window for every event the module reports:
// wParam = (slot << 16) | event code (TokenEventCode), lParam = the event's data.
constexpr UINT kTokenEventMessage = WM_USER + 1024;  // 0x0800

constexpr WPARAM TokenEventWParam(CK_SLOT_ID slot, CK_ULONG code) {
  return (static_cast<WPARAM>(slot) << 16) | (code & 0xFFFF);
}
constexpr WORD TokenEventCodeOf(WPARAM wp) { return LOWORD(wp); }
// Posted by the monitor itself, once, when the module's event entry kept failing and the monitor went over
// to polling the slots; lParam is the entry's failure. No module reports this code.
constexpr WORD kMonitorPollingCode = 0xFFFF;
constexpr unsigned long TokenEventSlotOf(WPARAM wp) { return HIWORD(wp); }

struct TokenCertificate {
  CK_SLOT_ID slot = 0;
  CK_OBJECT_HANDLE handle = 0;  // equals the handle in the module's object events
  std::wstring displayName;     // MakeDisplayName of the value, or the object's label when it does not decode
  std::vector<uint8_t> value;   // DER X.509 as the token holds it
  std::vector<uint8_t> id;
  std::wstring container;       // the key container name (ANSI on the token)
  DWORD keySpec = 0;            // AT_KEYEXCHANGE or AT_SIGNATURE once registration ran
  bool registered = false;      // set while the token's certificates are registered as a group
};

struct TokenRecord {
  CK_SLOT_ID slot = 0;
  std::wstring slotDescription;
  std::wstring label;
  std::vector<TokenCertificate> certificates;  // in the order the module's search returned them
  // False while the last read of the token did not get all of its objects: what it read is listed, but no
  // certificate of it is filed until a read gets them all.
  bool readWhole = true;
};

}  // namespace vd
