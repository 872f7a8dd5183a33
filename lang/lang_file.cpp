#include "lang_file.h"

#include <windows.h>

#include <climits>
#include <cwchar>
#include <cwctype>

namespace vd {
namespace {

constexpr size_t kMaxFileName = 260;  // the composed name must fit MAX_PATH with its terminator

std::wstring ToWide(UINT codePage, const char* text, size_t length) {
  if (length == 0) return {};
  // The size was checked against kMaxLanguageFileBytes, so it fits an int.
  int n = ::MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), out.data(), n);
  return out;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; }

std::wstring_view TrimLeft(std::wstring_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::wstring_view Trim(std::wstring_view s) {
  s = TrimLeft(s);
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

// Replaces every `from` by `to` in one left-to-right pass. Equivalent to replacing the first occurrence
// again and again from the start only because no `to` used below can form a new `from` with its
// neighbours; it keeps long values linear instead of quadratic.
void ReplaceAll(std::wstring& s, std::wstring_view from, std::wstring_view to) {
  size_t pos = s.find(from);
  if (pos == std::wstring::npos) return;
  std::wstring out;
  out.reserve(s.size());
  size_t start = 0;
  while (pos != std::wstring::npos) {
    out.append(s, start, pos - start);
    out.append(to);
    start = pos + from.size();
    pos = s.find(from, start);
  }
  out.append(s, start, std::wstring::npos);
  s.swap(out);
}

// Replacing "\\" by "\" until none is left collapses every run of backslashes to a single one.
void CollapseBackslashes(std::wstring& s) {
  std::wstring out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'\\' && !out.empty() && out.back() == L'\\') continue;
    out.push_back(s[i]);
  }
  s.swap(out);
}

}  // namespace

std::optional<std::wstring> DecodeLanguageText(const uint8_t* data, size_t size) {
  if (size > kMaxLanguageFileBytes) return std::nullopt;
  std::wstring text;
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) return std::nullopt;  // UTF-16 big-endian
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    // An odd last byte is a character whose high byte is zero, as if read from a zero-padded buffer.
    size_t units = (size - 2 + 1) / 2;
    text.reserve(units);
    for (size_t i = 0; i < units; ++i) {
      size_t at = 2 + 2 * i;
      wchar_t c = static_cast<wchar_t>(data[at] | ((at + 1 < size ? data[at + 1] : 0) << 8));
      if (c == L'\0') break;
      text.push_back(c);
    }
  } else if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    const char* p = reinterpret_cast<const char*>(data + 3);
    text = ToWide(CP_UTF8, p, strnlen(p, size - 3));
  } else {
    const char* p = reinterpret_cast<const char*>(data);
    text = ToWide(CP_ACP, p, strnlen(p, size));
  }
  if (text.empty()) return std::nullopt;
  return text;
}

std::wstring UnescapeValue(std::wstring value) {
  static constexpr struct {
    std::wstring_view escaped;     // "\r"
    std::wstring_view doubled;     // "\\r": stays a backslash and the letter
    std::wstring_view control;
  } kEscapes[] = {
      {L"\\r", L"\\\\r", L"\r"},
      {L"\\n", L"\\\\n", L"\n"},
      {L"\\t", L"\\\\t", L"\t"},
  };
  const std::wstring_view mark = L"\x0001";
  for (const auto& e : kEscapes) {
    ReplaceAll(value, e.doubled, mark);
    ReplaceAll(value, e.escaped, e.control);
    ReplaceAll(value, mark, e.doubled);
  }
  CollapseBackslashes(value);
  return value;
}

bool ParseLanguageText(std::wstring_view text, LanguageContent& content) {
  content.clear();
  LangSection* current = nullptr;
  // Once the remaining text holds no "\r\n" it never will again, so the search is not repeated per line.
  size_t nextCrLf = text.find(L"\r\n");
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end;
    size_t skip;
    if (nextCrLf != std::wstring_view::npos) {
      end = nextCrLf;
      skip = 2;
    } else {
      end = text.find(L'\n', pos);
      skip = 1;
      if (end == std::wstring_view::npos) {
        end = text.size();
        skip = 0;
      }
    }
    std::wstring_view line = text.substr(pos, end - pos);
    pos = end + skip;
    if (nextCrLf != std::wstring_view::npos) nextCrLf = text.find(L"\r\n", pos);

    line = TrimLeft(line);
    if (line.empty() || line[0] == L'#' || line[0] == L';') continue;
    if (line[0] == L'[') {
      size_t close = line.rfind(L']');
      std::wstring_view name = close == std::wstring_view::npos || close == 0 ? line.substr(1)
                                                                               : line.substr(1, close - 1);
      if (name.empty()) return false;
      std::wstring key(name);
      auto [it, added] = content.try_emplace(key);
      if (added) it->second.name = key;
      current = &it->second;
      continue;
    }
    size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos) continue;
    if (current == nullptr) return false;
    std::wstring key(Trim(line.substr(0, eq)));
    if (!current->values.try_emplace(key, UnescapeValue(std::wstring(line.substr(eq + 1)))).second) {
      return false;
    }
  }
  return true;
}

std::wstring_view LookupValue(const LangSection& section, std::wstring_view key) {
  auto it = section.values.find(std::wstring(key));
  if (it == section.values.end()) return kAbsentMarker;
  return it->second;
}

std::optional<LanguageSettings> ReadSettings(const LanguageContent& content) {
  auto settings = content.find(L"settings");
  if (settings == content.end()) return std::nullopt;
  const LangSection& s = settings->second;
  LanguageSettings out;
  std::wstring_view codePage = LookupValue(s, L"CodePage");
  std::wstring_view language = LookupValue(s, L"Language");
  if (codePage == kAbsentMarker || language == kAbsentMarker) return std::nullopt;
  out.codePage = ParseDecimal(codePage);
  out.language = language;
  if (std::wstring_view face = LookupValue(s, L"FontFace"); face != kAbsentMarker) out.fontFace = face;
  if (std::wstring_view height = LookupValue(s, L"FontHeight"); height != kAbsentMarker) {
    out.fontHeight = ParseDecimal(height);
  }
  return out;
}

int ParseDecimal(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

std::optional<std::wstring> ComposeLanguageFileName(const std::wstring& directory, const std::wstring& baseName,
                                                     int languageId) {
  std::wstring dir = directory;
  // A forward slash, not a backslash: installed layouts rely on this exact name, and Windows accepts both.
  if (dir.empty() || dir.back() != L'\\') dir += L'/';
  if (dir.size() + baseName.size() > 254) return std::nullopt;
  wchar_t number[16];
  std::swprintf(number, 16, L"_%04d.lng", languageId);
  std::wstring name = dir + baseName + number;
  if (name.size() >= kMaxFileName) return std::nullopt;
  return name;
}

}  // namespace vd
