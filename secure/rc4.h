// RC4 over a byte buffer in place. Every call sets up a fresh state from the key, so enciphering and
// deciphering always start at the beginning of the keystream; the state is wiped before the call returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vd {

void Rc4Apply(const uint8_t* key, size_t keyBytes, uint8_t* data, size_t bytes);

}  // namespace vd
