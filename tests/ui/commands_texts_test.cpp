// The text tables of the commands and the information dialogs against the shipped language files: the
// English file says exactly what the code's defaults say, and the Chinese file has every id with the same
// format conversions, so that neither language shows a text the code did not mean.
#include <gtest/gtest.h>

#include <string>

#include "command_texts.h"
#include "info_texts.h"
#include "lang_file.h"
#include "testsupport.h"
#include "text.h"
#include "text_table.h"

namespace {

vd::LangSection ShippedStrings(int id) {
  const std::vector<uint8_t> bytes =
      vdtest::ReadFileBytes(vdtest::BinDir() + L"lang\\lang\\qvcertd_Lumora_" + std::to_wstring(id) + L".lng");
  auto text = vd::DecodeLanguageText(bytes.data(), bytes.size());
  vd::LanguageContent content;
  if (!text || !vd::ParseLanguageText(*text, content)) return {};
  return content[L"strings"];
}

TEST(CommandTexts, ShippedFilesHoldEveryEntry) {
  const vd::LangSection english = ShippedStrings(1033);
  const vd::LangSection chinese = ShippedStrings(2052);
  ASSERT_FALSE(english.values.empty());
  ASSERT_FALSE(chinese.values.empty());
  auto check = [&](const vd::TextEntry& e) {
    SCOPED_TRACE(e.id);
    const std::wstring key = std::to_wstring(e.id);
    EXPECT_EQ(vd::LookupValue(english, key), e.english);
    const std::wstring_view translated = vd::LookupValue(chinese, key);
    ASSERT_NE(translated, vd::kAbsentMarker);
    EXPECT_NE(translated, e.english) << "not translated";
    EXPECT_EQ(vd::FormatConversions(std::wstring(translated)), vd::FormatConversions(e.english));
  };
  for (const vd::TextEntry& e : vd::command_text::kAll) check(e);
  for (const vd::TextEntry& e : vd::info_text::kAll) check(e);
}

}  // namespace
