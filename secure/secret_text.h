// A PIN's characters in a buffer of fixed capacity that never moves: inserting and erasing work in place,
// so no reallocation leaves a copy in freed memory, and the whole buffer is wiped when it goes.
#pragma once

#include <cstddef>

#include "secret_memory.h"

namespace vd {

class SecretText {
 public:
  static constexpr size_t kCapacity = kSecretCapacity;

  SecretText() = default;
  ~SecretText() { Wipe(); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const wchar_t* data() const { return chars_; }
  wchar_t* buffer() { return chars_; }
  wchar_t operator[](size_t i) const { return chars_[i]; }

  // Removes up to `count` characters from `pos` (clamped to the content).
  void Erase(size_t pos, size_t count);
  // False when full or `pos` lies beyond the content.
  bool Insert(size_t pos, wchar_t c);
  // Takes the characters up to the first NUL (at most kCapacity).
  void AssignUntilNul(const wchar_t* s, size_t maxChars);
  // After buffer() was filled directly with up to `chars` characters: they become the content, up to the
  // first NUL; what lies after it is cleared.
  void TakeFilledBuffer(size_t chars);
  // Clears every character the buffer can hold.
  void Wipe();

 private:
  wchar_t chars_[kCapacity + 1] = {};
  size_t size_ = 0;
};

}  // namespace vd
