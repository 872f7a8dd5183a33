#include "pin_rules.h"

#include "secret_memory.h"
#include "secure_text.h"

namespace vd {
namespace {

bool IsAsciiAlphanumeric(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9');
}

bool Differ(const std::wstring& n, const std::wstring& c) { return n != c; }
bool IsDefault(const std::wstring& n, const std::wstring&) { return n == kDefaultUserPin; }
bool HasOtherCharacter(const std::wstring& n, const std::wstring&) {
  for (wchar_t ch : n)
    if (!IsAsciiAlphanumeric(ch)) return true;
  return false;
}

int Clamp(CK_ULONG v) {
  const CK_ULONG most = kSecretCapacity - 1;
  return static_cast<int>(v > most ? most : v);
}

}  // namespace

const std::vector<PinRule>& NewPinRules() {
  static const std::vector<PinRule> rules = {
      {&secure_text::kPinsDiffer, Differ},
      {&secure_text::kDefaultPinRefused, IsDefault},
      {&secure_text::kLettersAndDigitsOnly, HasOtherCharacter},
  };
  return rules;
}

const TextEntry* FirstFailedPinRule(const std::wstring& newPin, const std::wstring& confirmation) {
  for (const PinRule& rule : NewPinRules())
    if (rule.fails(newPin, confirmation)) return rule.message;
  return nullptr;
}

PinLimits PinLimitsFor(CK_ULONG tokenMinimum, CK_ULONG tokenMaximum) {
  PinLimits l;
  l.tokenMinimum = Clamp(tokenMinimum);
  l.tokenMaximum = Clamp(tokenMaximum);
  l.minimum = l.tokenMinimum;
  l.maximum = l.tokenMaximum;
  if (l.minimum != 0 && l.minimum >= l.maximum) l.maximum = l.minimum + 1;
  return l;
}

bool OkButtonEnabled(const std::vector<PinEditState>& edits, int newLength, int confirmationLength) {
  for (const PinEditState& e : edits)
    if (e.minimum > 0 && e.length < e.minimum) return false;
  return newLength > 0 && confirmationLength == newLength;
}

}  // namespace vd
