// vardeck's string lookup: every user-visible text has a numeric id and an English default compiled into
// the program; a language file (".lng") may replace any of them. Without a usable file every lookup answers
// its default and dialogs and menus keep the texts of their resources; nothing fails visibly.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>

#include "handles.h"
#include "lang_file.h"

namespace vd {

class LanguageManager {
 public:
  // The process-wide manager, created on first use.
  static LanguageManager& Instance();

  // Tests build their own managers; the program uses Instance().
  LanguageManager() = default;
  LanguageManager(const LanguageManager&) = delete;
  LanguageManager& operator=(const LanguageManager&) = delete;

  // Each setter stores its value; a value that differs from the stored one makes the next lookup load the
  // file again (and a failed load is retried only after such a change).
  void SetLanguageDirectory(const std::wstring& directory);
  // May contain a relative folder, e.g. "lang\qvcertd_Lumora".
  void SetLanguageBaseName(const std::wstring& baseName);
  void SetLanguageId(int id);

  // The "CodePage" of the file in use; 1033 when no file is in use.
  int GetLanguageId();
  // The language the interface is meant to be in: the file's when one is in use, else the one asked for
  // (a language whose file is missing or broken is still the user's language), else 1033.
  int InterfaceLanguageId();
  std::wstring GetLanguageName();
  std::wstring GetFontFace();
  int GetFontHeight();
  bool IsLoaded();
  // The file name the last load tried (empty when it could not be composed).
  std::wstring LastFileName();

  std::wstring LangString(int id, const wchar_t* defaultText);
  // Title from the template id, then the texts of direct child buttons and statics from their control ids.
  void TranslateDialog(HWND dlg, int templateId);
  // Top-level items from the caption list of id 128, sub-menu items from their command ids.
  void TranslateMenu(HMENU menu);

 private:
  void EnsureLoadedLocked();
  bool LoadLocked();
  void ResetToEnglishLocked();
  void TranslateSubMenu(HMENU menu);

  CriticalSection mutex_;  // guards everything below; never held while a window is being changed
  LanguageContent content_;
  const LangSection* strings_ = nullptr;
  bool useDefaults_ = true;
  bool loadAttempted_ = false;
  bool loaded_ = false;
  std::wstring directory_;
  std::wstring baseName_;
  std::optional<int> requestedId_;  // what the setter asked for: the file name's number
  int languageId_ = 1033;           // what the file in use says it is
  std::wstring languageName_ = L"English";
  int fontHeight_ = 8;
  std::wstring fontFace_ = L"Tahoma";
  std::wstring lastFileName_;
};

std::wstring LangString(int id, const wchar_t* defaultText);
void TranslateDialog(HWND dlg, int templateId);
void TranslateMenu(HMENU menu);

// Where the language files are looked for: the installation's "Path" when set, otherwise the folder of the
// program (or of the library that shows the texts) plus "\lang".
std::wstring LanguageDirectory(const std::wstring& installPath, const std::wstring& programPath);

// The language the user's UI language asks for: 2052 for Simplified Chinese, 1028 for the Traditional
// Chinese locales, 1033 for everything else.
int DefaultLanguageId();
int LanguageIdForUiLanguage(LANGID uiLanguage);

}  // namespace vd
