#include "secret_memory.h"

#include <cstdlib>

namespace vd {
namespace {

using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
using BCryptGenRandomFn = LONG(WINAPI*)(PVOID algorithm, PUCHAR buffer, ULONG bytes, ULONG flags);
constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG

struct RandomSources {
  RtlGenRandomFn rtlGenRandom = nullptr;
  BCryptGenRandomFn bcryptGenRandom = nullptr;

  RandomSources() {
    // Neither library is ever freed: the functions stay valid for the life of the process.
    if (HMODULE advapi = ::LoadLibraryW(L"advapi32.dll"))
      rtlGenRandom = reinterpret_cast<RtlGenRandomFn>(
          reinterpret_cast<void*>(::GetProcAddress(advapi, "SystemFunction036")));
    if (HMODULE bcrypt = ::LoadLibraryW(L"bcrypt.dll"))
      bcryptGenRandom = reinterpret_cast<BCryptGenRandomFn>(
          reinterpret_cast<void*>(::GetProcAddress(bcrypt, "BCryptGenRandom")));
  }
};

const RandomSources& Sources() {
  static const RandomSources sources;
  return sources;
}

template <typename Str>
void WipeAny(Str& s) {
  using Char = typename Str::value_type;
  for (Char& c : s) c = static_cast<Char>(32 + RandomBelow(94));
  // The whole buffer, not only the characters in use: an earlier, longer content may still be there.
  WipeMemory(s.data(), (s.capacity() + 1) * sizeof(Char));
  s.clear();
}

template <typename Str>
void PrepareAny(Str& s) {
  WipeAny(s);
  if (s.capacity() < kSecretCapacity) s.reserve(kSecretCapacity);  // the old buffer held nothing: wiped above
}

}  // namespace

void WipeMemory(void* data, size_t bytes) {
  if (data && bytes) ::SecureZeroMemory(data, bytes);
}

void WipeString(std::wstring& s) { WipeAny(s); }
void WipeString(std::string& s) { WipeAny(s); }
void PrepareSecret(std::wstring& s) { PrepareAny(s); }
void PrepareSecret(std::string& s) { PrepareAny(s); }

bool SecretToUtf8(const std::wstring& pin, std::string& out) {
  PrepareSecret(out);
  if (pin.empty()) return true;
  int n = ::WideCharToMultiByte(CP_UTF8, 0, pin.data(), static_cast<int>(pin.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0 || static_cast<size_t>(n) > kSecretCapacity) return false;
  out.resize(static_cast<size_t>(n));  // within the reserved capacity: no reallocation
  if (::WideCharToMultiByte(CP_UTF8, 0, pin.data(), static_cast<int>(pin.size()), out.data(), n, nullptr, nullptr) != n) {
    WipeString(out);
    return false;
  }
  return true;
}

bool SystemRandom(void* data, size_t bytes) {
  if (bytes == 0) return true;
  if (!data || bytes > 0xFFFFFFFFu) return false;
  const RandomSources& s = Sources();
  if (s.rtlGenRandom && s.rtlGenRandom(data, static_cast<ULONG>(bytes))) return true;
  if (s.bcryptGenRandom &&
      s.bcryptGenRandom(nullptr, static_cast<PUCHAR>(data), static_cast<ULONG>(bytes), kUseSystemPreferredRng) >= 0)
    return true;
  return false;
}

unsigned RandomBelow(unsigned bound) {
  if (bound <= 1) return 0;
  // Rejection sampling: values from the short last stretch would favour the low numbers.
  const unsigned limit = 0xFFFFFFFFu - (0xFFFFFFFFu % bound);
  for (int attempt = 0; attempt < 64; ++attempt) {
    unsigned v = 0;
    if (!SystemRandom(&v, sizeof v)) break;
    if (v < limit) return v % bound;
  }
  return static_cast<unsigned>(std::rand()) % bound;
}

}  // namespace vd
