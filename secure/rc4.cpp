#include "rc4.h"

#include <utility>

#include "secret_memory.h"

namespace vd {

void Rc4Apply(const uint8_t* key, size_t keyBytes, uint8_t* data, size_t bytes) {
  if (!key || keyBytes == 0 || !data) return;
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[static_cast<size_t>(i) % keyBytes]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0, b = 0;
  for (size_t n = 0; n < bytes; ++n) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    data[n] ^= s[static_cast<uint8_t>(s[a] + s[b])];
  }
  // The state reveals the keystream of this key.
  WipeMemory(s, sizeof s);
  a = b = j = 0;
}

}  // namespace vd
