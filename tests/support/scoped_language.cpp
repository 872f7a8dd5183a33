#include "scoped_language.h"

#include <windows.h>

#include <atomic>

#include "language_manager.h"
#include "testsupport.h"
#include "text.h"

namespace vdtest {

ScopedLanguage::ScopedLanguage(const std::wstring& strings, int languageId) {
  static std::atomic<int> counter{0};
  wchar_t tmp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, tmp);
  dir_ = std::wstring(tmp) + L"vdlang-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++);
  ::CreateDirectoryW(dir_.c_str(), nullptr);
  if (!strings.empty()) {
    std::string text = "\xEF\xBB\xBF[settings]\r\nCodePage=" + std::to_string(languageId) +
                       "\r\nLanguage=Test\r\n[strings]\r\n" +
                       vd::WideToUtf8(strings);
    WriteFileBytes(dir_ + L"\\t_" + std::to_wstring(languageId) + L".lng", text.data(), text.size());
  }
  auto& m = vd::LanguageManager::Instance();
  m.SetLanguageDirectory(dir_ + L"\\");
  m.SetLanguageBaseName(L"t");
  m.SetLanguageId(languageId);
}

ScopedLanguage::~ScopedLanguage() {
  // Another folder name makes the next lookup load again, and find nothing.
  vd::LanguageManager::Instance().SetLanguageDirectory(dir_ + L"\\gone\\");
  RemoveTree(dir_);
}

}  // namespace vdtest
