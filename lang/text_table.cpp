#include "text_table.h"

#include <cwchar>

#include "language_manager.h"

namespace vd {
namespace {

constexpr wchar_t kFlags[] = L"-+ #0";

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads one conversion starting at format[i] == '%'; *end is the index after it. The result is the
// length modifier plus letter, "%" for "%%", or "?" for anything we do not format.
std::wstring ReadConversion(const std::wstring& format, size_t i, size_t* end) {
  size_t j = i + 1;
  while (j < format.size() && std::wcschr(kFlags, format[j]) && format[j] != L'\0') ++j;
  while (j < format.size() && IsDigit(format[j])) ++j;
  if (j < format.size() && format[j] == L'.') {
    ++j;
    while (j < format.size() && IsDigit(format[j])) ++j;
  }
  std::wstring length;
  while (j < format.size() && (format[j] == L'l' || format[j] == L'h')) length += format[j++];
  if (j >= format.size()) {
    *end = format.size();
    return L"?";
  }
  wchar_t letter = format[j];
  *end = j + 1;
  if (letter == L'%') return j == i + 1 ? L"%" : L"?";
  if (!std::wcschr(L"diuxXs", letter)) return L"?";
  return length + letter;
}

// Whether an argument can stand for a conversion of this letter without reading a different type.
bool Fits(const std::wstring& conversion, const FormatArg& arg) {
  if (conversion == L"d" || conversion == L"i") return std::holds_alternative<int>(arg);
  if (conversion == L"u" || conversion == L"x" || conversion == L"X") return std::holds_alternative<unsigned>(arg);
  if (conversion == L"s") return std::holds_alternative<const wchar_t*>(arg);
  return false;
}

// Formats a checked format one conversion at a time, so that every argument is passed with its own type.
std::wstring Render(const std::wstring& format, std::initializer_list<FormatArg> args) {
  std::wstring out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size();) {
    if (format[i] != L'%') {
      out += format[i++];
      continue;
    }
    size_t end = 0;
    std::wstring conversion = ReadConversion(format, i, &end);
    std::wstring conversionText = format.substr(i, end - i);
    i = end;
    if (conversion == L"%") {
      out += L'%';
      continue;
    }
    const FormatArg& arg = *next++;
    if (const wchar_t* const* s = std::get_if<const wchar_t*>(&arg)) {
      out += *s ? *s : L"";  // texts are inserted whole; no format of ours pads them
      continue;
    }
    wchar_t piece[64] = {};  // a number with any width a format may sensibly ask for
    if (const int* n = std::get_if<int>(&arg)) {
      _snwprintf(piece, 63, conversionText.c_str(), *n);
    } else {
      _snwprintf(piece, 63, conversionText.c_str(), std::get<unsigned>(arg));
    }
    out += piece;
  }
  return out;
}

bool Matches(const std::wstring& format, std::initializer_list<FormatArg> args) {
  std::vector<std::wstring> conversions = FormatConversions(format);
  if (conversions.size() != args.size()) return false;
  auto arg = args.begin();
  for (const std::wstring& c : conversions)
    if (!Fits(c, *arg++)) return false;
  return true;
}

}  // namespace

std::wstring Text(const TextEntry& entry) { return LangString(entry.id, entry.english); }

std::vector<std::wstring> FormatConversions(const std::wstring& format) {
  std::vector<std::wstring> out;
  for (size_t i = 0; i < format.size();) {
    if (format[i] != L'%') {
      ++i;
      continue;
    }
    size_t end = 0;
    std::wstring c = ReadConversion(format, i, &end);
    if (c != L"%") out.push_back(c);
    i = end;
  }
  return out;
}

std::wstring FormatText(const TextEntry& entry, std::initializer_list<FormatArg> args) {
  const std::wstring english = entry.english;
  std::wstring translated = Text(entry);
  if (translated != english && FormatConversions(translated) == FormatConversions(english) &&
      Matches(translated, args))
    return Render(translated, args);
  if (Matches(english, args)) return Render(english, args);
  return english;
}

}  // namespace vd
