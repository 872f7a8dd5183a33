// The change-PIN dialog's texts exist in both shipped language files, with the formats the code fills.
#include <gtest/gtest.h>

#include "lang_file.h"
#include "secure_text.h"
#include "testsupport.h"
#include "text.h"

namespace {

TEST(SecureTexts, EveryEntryIsInBothShippedFiles) {
  for (int language : {1033, 2052}) {
    SCOPED_TRACE(language);
    std::vector<uint8_t> bytes =
        vdtest::ReadFileBytes(vdtest::BinDir() + L"lang\\lang\\qvcertd_Lumora_" + std::to_wstring(language) + L".lng");
    auto text = vd::DecodeLanguageText(bytes.data(), bytes.size());
    ASSERT_TRUE(text);
    vd::LanguageContent content;
    ASSERT_TRUE(vd::ParseLanguageText(*text, content));
    const vd::LangSection& strings = content[L"strings"];
    for (const vd::TextEntry& e : vd::secure_text::kAll) {
      std::wstring_view value = vd::LookupValue(strings, std::to_wstring(e.id));
      ASSERT_NE(value, vd::kAbsentMarker) << "id " << e.id;
      EXPECT_EQ(vd::FormatConversions(std::wstring(value)), vd::FormatConversions(e.english)) << "id " << e.id;
      if (language == 1033) {
        EXPECT_EQ(value, e.english) << "id " << e.id;
      }
    }
    // The dialog's own controls are translated by id.
    for (int id : {134, 1028, 1030, 2010}) EXPECT_NE(vd::LookupValue(strings, std::to_wstring(id)), vd::kAbsentMarker) << id;
  }
}

}  // namespace
