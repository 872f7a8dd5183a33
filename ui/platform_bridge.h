// The language lookup and the Windows generation, as the main dialog and start-up use them.
#pragma once

#include <windows.h>

#include <string>

namespace vd {

std::wstring Text(int id, const wchar_t* englishDefault);
// A looked-up text used as a printf format. A translation whose conversions do not match the English
// default's (a language file is outside our control) falls back to the default rather than read arguments
// that were never passed.
std::wstring FormatText(int id, const wchar_t* englishDefault, ...);
void TranslateDialogTexts(HWND dialog, int templateId);
void TranslateMenuTexts(HMENU menu);
// Language id from the user's UI language, base name, and the folder the language files are looked for in.
void ConfigureLanguage(const std::wstring& directory);

bool OsIsVistaOrLater();
bool OsIsWin9x();
bool OsIsWindows2000();

}  // namespace vd
