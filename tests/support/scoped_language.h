// Points the process-wide language manager at a folder holding one language file (id 2052) with the given
// "[strings]" lines, or at an empty folder when `strings` is empty; the next lookup loads it. The folder
// goes, and the manager finds nothing again, when the object goes.
#pragma once

#include <string>

namespace vdtest {

class ScopedLanguage {
 public:
  explicit ScopedLanguage(const std::wstring& strings, int languageId = 2052);
  ~ScopedLanguage();
  ScopedLanguage(const ScopedLanguage&) = delete;
  ScopedLanguage& operator=(const ScopedLanguage&) = delete;

 private:
  std::wstring dir_;
};

}  // namespace vdtest
