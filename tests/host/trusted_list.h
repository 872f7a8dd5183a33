// The installed list of trusted page origins, set for the length of a test and restored afterwards. Tests
// that set it, or that rely on its absence, share the ctest lock "trusted_origins".
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace hosttest {

class ScopedTrustedOrigins {
 public:
  // Remembers the value under `key` (HKLM; the installation key unless told) as it is.
  explicit ScopedTrustedOrigins(const wchar_t* key = nullptr);
  ~ScopedTrustedOrigins();
  ScopedTrustedOrigins(const ScopedTrustedOrigins&) = delete;
  ScopedTrustedOrigins& operator=(const ScopedTrustedOrigins&) = delete;

  void Remove();
  // REG_MULTI_SZ, one origin per string.
  bool SetList(const std::vector<std::wstring>& origins);
  // Any type and raw data, as an installer might write it.
  bool SetRaw(DWORD type, const void* data, DWORD size);
  bool SetText(const std::wstring& text);  // REG_SZ

 private:
  std::wstring key_;
  std::optional<std::vector<BYTE>> saved_;
  DWORD savedType_ = 0;
};

}  // namespace hosttest
