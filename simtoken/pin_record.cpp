#include "pin_record.h"

#include "sha256.h"

#include <windows.h>
#include <ntsecapi.h>

namespace simtoken {
namespace {

void Digest(const uint8_t* salt, const void* pin, size_t size, uint8_t* out) {
  Sha256 h;
  h.Update(salt, PinRecord::kSaltSize);
  h.Update(pin, size);
  h.Final(out);
}

// A salt only has to differ between records; when the system's generator fails, the clock, the process
// and a counter still make it unique.
void NewSalt(uint8_t* salt) {
  if (::RtlGenRandom(salt, PinRecord::kSaltSize)) return;
  static LONG counter = 0;
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  uint32_t mix[4] = {static_cast<uint32_t>(now.QuadPart), static_cast<uint32_t>(now.QuadPart >> 32),
                     ::GetCurrentProcessId(), static_cast<uint32_t>(::InterlockedIncrement(&counter))};
  uint8_t full[Sha256::kSize];
  Sha256 h;
  h.Update(mix, sizeof mix);
  h.Final(full);
  for (size_t i = 0; i < PinRecord::kSaltSize; ++i) salt[i] = full[i];
}

}  // namespace

void PinRecord::Set(const void* pin, size_t size) {
  NewSalt(salt);
  Digest(salt, pin, size, digest);
  set = true;
}

bool PinRecord::Matches(const void* pin, size_t size) const {
  if (!set) return false;
  uint8_t candidate[kDigestSize];
  Digest(salt, pin, size, candidate);
  uint8_t diff = 0;
  for (size_t i = 0; i < kDigestSize; ++i) diff |= static_cast<uint8_t>(candidate[i] ^ digest[i]);
  ::SecureZeroMemory(candidate, sizeof candidate);
  return diff == 0;
}

}  // namespace simtoken
