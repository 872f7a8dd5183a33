// The rules a new user PIN must satisfy, the limits the token's lengths give the edits, and when OK may be
// pressed. Kept apart from the dialog so that the rules are data and can be walked by tests.
#pragma once

#include <string>
#include <vector>

#include "pkcs11.h"
#include "text_table.h"

namespace vd {

// The PIN a token carries when it is issued; nobody may keep it.
inline constexpr wchar_t kDefaultUserPin[] = L"246802";

struct PinRule {
  const TextEntry* message;
  bool (*fails)(const std::wstring& newPin, const std::wstring& confirmation);
};

// In the order they are checked; the first that fails is reported.
const std::vector<PinRule>& NewPinRules();
// The message of the first failing rule, or null when the new PIN is accepted.
const TextEntry* FirstFailedPinRule(const std::wstring& newPin, const std::wstring& confirmation);

// What the edits get from the token's lengths. A module's lengths are untrusted: both are kept below what
// a secure edit can hold.
struct PinLimits {
  int minimum = 0;   // each edit's minimum; 0: no minimum and no limit set
  int maximum = 0;   // each edit's character limit when minimum is not 0
  int tokenMinimum = 0;  // the token's own lengths, clamped: what the plain dialog's label shows
  int tokenMaximum = 0;
};
PinLimits PinLimitsFor(CK_ULONG tokenMinimum, CK_ULONG tokenMaximum);

struct PinEditState {
  int length;   // asterisks shown
  int minimum;  // 0: none
};
// Every edit with a minimum holds that many, the new PIN is not empty, and the confirmation is as long as
// the new PIN.
bool OkButtonEnabled(const std::vector<PinEditState>& edits, int newLength, int confirmationLength);

}  // namespace vd
