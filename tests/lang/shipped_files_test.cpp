// The language files shipped with the program: they load from the installed layout, and they hold every
// text id of the program's text tables, with the same format conversions as the code's English default.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <span>
#include <set>

#include "lang_file.h"
#include "language_manager.h"
#include "shipped_texts.h"
#include "testsupport.h"
#include "text.h"
#include "text_table.h"
#include "command_texts.h"
#include "erase_texts.h"
#include "info_texts.h"
#include "ui_texts.h"

namespace {

// Every subsystem's table of texts.
const std::span<const vd::TextEntry> kTables[] = {vd::ui_text::kAll, vd::command_text::kAll, vd::info_text::kAll,
                                                   vd::erase_text::kAll};

using vdtest::ShippedStrings;

// Every text the program looks up: the tables of each subsystem. An id with two defaults keeps both.
std::multimap<int, std::wstring> LookupsInCode() {
  std::multimap<int, std::wstring> found;
  for (std::span<const vd::TextEntry> table : kTables) {
    for (const vd::TextEntry& e : table) found.emplace(e.id, e.english);
  }
  return found;
}

// The conversions of a format by the rule the program applies to translations.
std::vector<std::wstring> Conversions(const std::wstring& format) { return vd::FormatConversions(format); }

TEST(ShippedLanguageFiles, LoadFromTheInstalledLayout) {
  for (int id : vdtest::kShippedLanguages) {
    SCOPED_TRACE(id);
    vd::LanguageManager m;
    // As start-up configures it without an installation "Path": the program's folder plus "\lang".
    std::wstring bin = vdtest::BinDir();
    m.SetLanguageDirectory(bin + L"lang");
    m.SetLanguageBaseName(L"lang\\qvcertd_Lumora");
    m.SetLanguageId(id);
    ASSERT_TRUE(m.IsLoaded()) << vd::WideToUtf8(m.LastFileName());
    EXPECT_EQ(m.GetLanguageId(), id);
    EXPECT_EQ(m.LangString(102, L"x"), id == 1033 ? L"Certificate Manager" : L"\x8BC1\x4E66\x7BA1\x7406\x5668");
  }
}

TEST(ShippedLanguageFiles, HoldEveryIdTheCodeLooksUp) {
  auto lookups = LookupsInCode();
  // The tables must be there: these lookups are known to exist.
  ASSERT_GT(lookups.size(), 10u);
  ASSERT_EQ(lookups.count(90000), 1u);
  ASSERT_EQ(lookups.count(11000), 2u) << "one id, two defaults";
  for (int file : vdtest::kShippedLanguages) {
    SCOPED_TRACE(file);
    vd::LangSection strings = ShippedStrings(file);
    ASSERT_FALSE(strings.values.empty());
    for (const auto& [id, englishDefault] : lookups) {
      std::wstring_view value = vd::LookupValue(strings, std::to_wstring(id));
      if (value == vd::kAbsentMarker) {
        ADD_FAILURE() << "id " << id << " missing";
        continue;
      }
      // The file's value is the format the code fills; escapes in the code's literal are irrelevant here.
      EXPECT_EQ(Conversions(std::wstring(value)), Conversions(englishDefault)) << "id " << id;
    }
  }
}

TEST(ShippedLanguageFiles, TranslationHasEveryKeyOfTheEnglishFile) {
  vd::LangSection english = ShippedStrings(1033);
  vd::LangSection chinese = ShippedStrings(2052);
  ASSERT_FALSE(english.values.empty());
  std::set<std::wstring> a, b;
  for (const auto& kv : english.values) a.insert(kv.first);
  for (const auto& kv : chinese.values) b.insert(kv.first);
  EXPECT_EQ(a, b);
  for (const auto& [key, value] : english.values) {
    EXPECT_EQ(Conversions(chinese.values[key]), Conversions(value)) << vd::WideToUtf8(key);
  }
  // The tray menu is translated only when the caption list exists, and then needs its commands.
  for (const wchar_t* key : {L"128", L"32771", L"32772"}) EXPECT_EQ(a.count(key), 1u) << vd::WideToUtf8(key);
}

}  // namespace
