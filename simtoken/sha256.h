// SHA-256 for the PIN records of the simulated token. Our own, so that every buffer that held PIN bytes is
// ours to wipe: the block buffer when the object goes, the message schedule after each block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace simtoken {

class Sha256 {
 public:
  static constexpr size_t kSize = 32;

  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  // Writes the digest; the object is wiped and must not be updated again.
  void Final(uint8_t out[kSize]);

 private:
  void Block(const uint8_t* p);

  uint32_t h_[8];
  uint8_t buf_[64];
  size_t used_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace simtoken
