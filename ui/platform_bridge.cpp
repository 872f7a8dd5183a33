#include "platform_bridge.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "language_manager.h"
#include "os_version.h"

namespace vd {

namespace {

// The conversion letters of a printf format, in order ("%%" is no conversion).
std::wstring Conversions(const std::wstring& format) {
  std::wstring letters;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%') continue;
    size_t j = i + 1;
    while (j < format.size() && std::wcschr(L"-+ #0123456789.lhz", format[j])) ++j;
    if (j >= format.size()) {
      letters += L'?';  // a dangling % is never safe
      break;
    }
    if (format[j] != L'%') letters += format[j];
    i = j;
  }
  return letters;
}

}  // namespace

std::wstring Text(int id, const wchar_t* englishDefault) { return LangString(id, englishDefault); }

std::wstring FormatText(int id, const wchar_t* englishDefault, ...) {
  std::wstring format = LangString(id, englishDefault);
  if (Conversions(format) != Conversions(englishDefault)) format = englishDefault;
  std::vector<wchar_t> buffer(1024);
  va_list args;
  va_start(args, englishDefault);
  // The runtime's own formatter: "%s" takes a wide string, as in the language files.
  int n = _vsnwprintf(buffer.data(), buffer.size() - 1, format.c_str(), args);
  va_end(args);
  return n < 0 ? std::wstring(buffer.data()) : std::wstring(buffer.data(), static_cast<size_t>(n));
}

void TranslateDialogTexts(HWND dialog, int templateId) { TranslateDialog(dialog, templateId); }
void TranslateMenuTexts(HMENU menu) { TranslateMenu(menu); }

void ConfigureLanguage(const std::wstring& directory) {
  LanguageManager& lang = LanguageManager::Instance();
  lang.SetLanguageId(DefaultLanguageId());
  lang.SetLanguageBaseName(L"lang\\qvcertd_Lumora");
  lang.SetLanguageDirectory(directory);
}

bool OsIsVistaOrLater() { return OsVersion().IsVistaOrLater(); }
bool OsIsWin9x() { return OsVersion().IsWin9x(); }
bool OsIsWindows2000() { return OsVersion().IsWindows2000(); }

}  // namespace vd
