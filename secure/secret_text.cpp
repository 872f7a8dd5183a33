#include "secret_text.h"

#include <cstring>

namespace vd {

void SecretText::Erase(size_t pos, size_t count) {
  if (pos >= size_ || count == 0) return;
  if (count > size_ - pos) count = size_ - pos;
  std::memmove(chars_ + pos, chars_ + pos + count, (size_ - pos - count) * sizeof(wchar_t));
  size_ -= count;
  // The characters shifted out at the end stay behind otherwise.
  WipeMemory(chars_ + size_, count * sizeof(wchar_t));
}

bool SecretText::Insert(size_t pos, wchar_t c) {
  if (size_ >= kCapacity || pos > size_) return false;
  std::memmove(chars_ + pos + 1, chars_ + pos, (size_ - pos) * sizeof(wchar_t));
  chars_[pos] = c;
  ++size_;
  chars_[size_] = L'\0';
  return true;
}

void SecretText::AssignUntilNul(const wchar_t* s, size_t maxChars) {
  Wipe();
  if (!s) return;
  if (maxChars > kCapacity) maxChars = kCapacity;
  while (size_ < maxChars && s[size_] != L'\0') {
    chars_[size_] = s[size_];
    ++size_;
  }
}

void SecretText::TakeFilledBuffer(size_t chars) {
  if (chars > kCapacity) chars = kCapacity;
  size_ = 0;
  while (size_ < chars && chars_[size_] != L'\0') ++size_;
  WipeMemory(chars_ + size_, (kCapacity + 1 - size_) * sizeof(wchar_t));
}

void SecretText::Wipe() {
  WipeMemory(chars_, sizeof chars_);
  size_ = 0;
}

}  // namespace vd
