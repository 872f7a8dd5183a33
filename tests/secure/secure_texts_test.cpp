// The change-PIN dialog's texts exist in both shipped language files, with the formats the code fills.
#include <gtest/gtest.h>

#include "secure_text.h"
#include "shipped_texts.h"

namespace {

TEST(SecureTexts, EveryEntryIsInBothShippedFiles) {
  vdtest::ExpectShippedFilesHold(vd::secure_text::kAll, false);
  // The dialog's own controls are translated by id.
  for (int language : vdtest::kShippedLanguages) {
    const vd::LangSection strings = vdtest::ShippedStrings(language);
    for (int id : {134, 1028, 1030, 2010})
      EXPECT_NE(vd::LookupValue(strings, std::to_wstring(id)), vd::kAbsentMarker) << language << " " << id;
  }
}

}  // namespace
