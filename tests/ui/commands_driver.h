// The command tests' helpers: the dialog driver of the test support library and the shipped Chinese file.
#pragma once

#include "dialog_driver.h"
#include "language_manager.h"
#include "testsupport.h"

namespace cmdtest {

using vdtest::DialogDriver;
using vdtest::Enabled;
using vdtest::ItemText;
using vdtest::Press;
using vdtest::Type;
using vdtest::WindowText;

// The shipped Chinese language file, as the installed program finds it, for the life of a scope; after it
// the manager finds no file again (English defaults).
class ScopedShippedChinese {
 public:
  ScopedShippedChinese() {
    auto& m = vd::LanguageManager::Instance();
    m.SetLanguageDirectory(vdtest::BinDir() + L"lang");
    m.SetLanguageBaseName(L"lang\\qvcertd_Lumora");
    m.SetLanguageId(2052);
  }
  ~ScopedShippedChinese() { vd::LanguageManager::Instance().SetLanguageDirectory(vdtest::BinDir() + L"no-lang"); }
  ScopedShippedChinese(const ScopedShippedChinese&) = delete;
  ScopedShippedChinese& operator=(const ScopedShippedChinese&) = delete;
};

}  // namespace cmdtest
