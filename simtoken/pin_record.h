// A PIN as the simulated token keeps it: a random salt and the SHA-256 of salt and PIN, never the PIN
// itself, so neither the state files nor the memory of a process that uses the module hold it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace simtoken {

struct PinRecord {
  static constexpr size_t kSaltSize = 16;
  static constexpr size_t kDigestSize = 32;

  bool set = false;  // false: no PIN was ever given, and none matches
  uint8_t salt[kSaltSize] = {};
  uint8_t digest[kDigestSize] = {};

  // Hashes straight from the caller's buffer with a fresh salt: no copy of the PIN is made.
  void Set(const void* pin, size_t size);
  bool Matches(const void* pin, size_t size) const;
};

}  // namespace simtoken
