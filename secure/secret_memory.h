// Copies of a PIN: how they are wiped, and the system's random generator that keys and shuffles use.
// Every buffer that ever held a PIN is cleared with writes the compiler may not remove, and is sized before
// it is filled, so that no reallocation leaves a copy behind in freed memory.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace vd {

// The capacity every PIN string is given before it is filled. PKCS#11 PINs are far shorter; an edit's
// character limit is kept below it.
constexpr size_t kSecretCapacity = 256;

// Clears memory with writes that survive optimisation (a plain memset before free is removed at -O2).
void WipeMemory(void* data, size_t bytes);

// Overwrites every character in place with a random printable character (32 to 126), then clears the
// string's whole buffer and empties it. The buffer is kept: freeing it is the owner's business, and what
// it frees is zeros.
void WipeString(std::wstring& s);
void WipeString(std::string& s);

// Empties the string, clears its buffer, and makes sure it can take kSecretCapacity characters without
// reallocating.
void PrepareSecret(std::wstring& s);
void PrepareSecret(std::string& s);

// A wide string that holds a PIN for the life of a scope: sized up front, wiped when it goes.
class SecretWide {
 public:
  SecretWide() { PrepareSecret(s_); }
  ~SecretWide() { WipeString(s_); }
  SecretWide(const SecretWide&) = delete;
  SecretWide& operator=(const SecretWide&) = delete;
  std::wstring& get() { return s_; }
  const std::wstring& get() const { return s_; }

 private:
  std::wstring s_;
};

// The same for UTF-8 bytes.
class SecretBytes {
 public:
  SecretBytes() { PrepareSecret(s_); }
  ~SecretBytes() { WipeString(s_); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  std::string& get() { return s_; }
  const std::string& get() const { return s_; }

 private:
  std::string s_;
};

// Converts a PIN to UTF-8 straight into `out` (emptied and cleared first), without a temporary string.
// False when the text cannot be converted or does not fit kSecretCapacity.
bool SecretToUtf8(const std::wstring& pin, std::string& out);

// Fills `data` from the system's cryptographic generator (RtlGenRandom, or BCryptGenRandom where that is
// missing), both looked up at run time. False when neither answers; `data` is then undefined.
bool SystemRandom(void* data, size_t bytes);
// A uniformly chosen number below `bound` (0 when bound is 0 or 1) from SystemRandom; falls back to rand()
// only if the system generator fails.
unsigned RandomBelow(unsigned bound);

}  // namespace vd
