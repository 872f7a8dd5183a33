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

// Decoded by hand rather than by MultiByteToWideChar: Windows XP drops invalid bytes silently (and with
// MB_ERR_INVALID_CHARS the whole text fails), while a token label or a name from a file must still show,
// with U+FFFD where its bytes are not UTF-8. Each maximal ill-formed subsequence gives one U+FFFD, the
// practice the Unicode standard recommends, so that a valid character after bad bytes is never swallowed.
std::wstring Utf8ToWide(std::string_view s) {
  constexpr wchar_t kReplacement = 0xFFFD;
  std::wstring out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      out += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range allowed for the second byte
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;   // no overlong forms
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      out += kReplacement;  // a continuation byte without a lead, C0, C1 or F5..FF
      ++i;
      continue;
    }
    size_t used = 1;
    for (; used < length && i + used < s.size(); ++used) {
      const unsigned char c = static_cast<unsigned char>(s[i + used]);
      if (c < (used == 1 ? low : 0x80) || c > (used == 1 ? high : 0xBF)) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    i += used;
    if (used < length) {
      out += kReplacement;  // the bytes taken so far; the byte that broke the sequence starts anew
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  }
  return out;
}
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

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  // Ordinal, by upper-case mapping, as the system compares names that ignore case (CompareStringOrdinal
  // does the same but is missing before Vista).
  if (a.size() != b.size()) return false;
  std::wstring ua(a), ub(b);
  if (!ua.empty()) ::CharUpperBuffW(ua.data(), static_cast<DWORD>(ua.size()));
  if (!ub.empty()) ::CharUpperBuffW(ub.data(), static_cast<DWORD>(ub.size()));
  return ua == ub;
}

}  // namespace vd
