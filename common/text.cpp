#include "text.h"

#include <windows.h>

namespace vd {
namespace {

std::wstring ToWide(UINT cp, std::string_view s) {
  if (s.empty()) return {};
  int n = ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string FromWide(UINT cp, std::wstring_view s) {
  if (s.empty()) return {};
  int n = ::WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view s) { return ToWide(CP_UTF8, s); }
std::string WideToUtf8(std::wstring_view s) { return FromWide(CP_UTF8, s); }
std::wstring AnsiToWide(std::string_view s) { return ToWide(CP_ACP, s); }
std::string WideToAnsi(std::wstring_view s) { return FromWide(CP_ACP, s); }

std::string_view FixedField(const void* field, size_t size) {
  const char* p = static_cast<const char*>(field);
  size_t n = 0;
  while (n < size && p[n] != '\0') ++n;
  while (n > 0 && p[n - 1] == ' ') --n;
  return std::string_view(p, n);
}

}  // namespace vd
