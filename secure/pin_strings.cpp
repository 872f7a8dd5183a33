#include "pin_strings.h"

#include "secret_memory.h"

namespace vd {
namespace {

// Sized once, so that no assignment ever moves a PIN to a new buffer.
struct RunPins {
  std::wstring oldPin;
  std::wstring newPin;
  RunPins() {
    PrepareSecret(oldPin);
    PrepareSecret(newPin);
  }
  ~RunPins() {
    WipeString(oldPin);
    WipeString(newPin);
  }
};

RunPins& Pins() {
  static RunPins pins;
  return pins;
}

}  // namespace

std::wstring& SecureRunOldPin() { return Pins().oldPin; }
std::wstring& SecureRunNewPin() { return Pins().newPin; }
void WipeSecureRunPins() {
  WipeString(Pins().oldPin);
  WipeString(Pins().newPin);
}

}  // namespace vd
