#include "shipped_texts.h"

#include <gtest/gtest.h>

#include "testsupport.h"

namespace vdtest {

vd::LangSection ShippedStrings(int languageId) {
  const std::vector<uint8_t> bytes =
      ReadFileBytes(BinDir() + L"lang\\lang\\qvcertd_Lumora_" + std::to_wstring(languageId) + L".lng");
  auto text = vd::DecodeLanguageText(bytes.data(), bytes.size());
  vd::LanguageContent content;
  if (!text || !vd::ParseLanguageText(*text, content)) return {};
  return content[L"strings"];
}

void ExpectShippedFilesHold(std::span<const vd::TextEntry> table, bool translated) {
  ASSERT_FALSE(table.empty());
  for (int language : kShippedLanguages) {
    SCOPED_TRACE(language);
    const vd::LangSection strings = ShippedStrings(language);
    ASSERT_FALSE(strings.values.empty()) << "the shipped file does not load";
    for (const vd::TextEntry& e : table) {
      const std::wstring_view value = vd::LookupValue(strings, std::to_wstring(e.id));
      if (value == vd::kAbsentMarker) {
        ADD_FAILURE() << "id " << e.id << " missing";
        continue;
      }
      EXPECT_EQ(vd::FormatConversions(std::wstring(value)), vd::FormatConversions(e.english)) << "id " << e.id;
      if (language == 1033) {
        EXPECT_EQ(value, e.english) << "id " << e.id;
      } else if (translated) {
        EXPECT_NE(value, e.english) << "id " << e.id << " not translated";
      }
    }
  }
}

}  // namespace vdtest
