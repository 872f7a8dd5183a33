// The text tables of the commands and the information dialogs against the shipped language files: the
// English file says exactly what the code's defaults say, and the Chinese file has every id translated with
// the same format conversions, so that neither language shows a text the code did not mean.
#include <gtest/gtest.h>

#include "command_texts.h"
#include "info_texts.h"
#include "shipped_texts.h"

namespace {

TEST(CommandTexts, ShippedFilesHoldEveryEntry) {
  vdtest::ExpectShippedFilesHold(vd::command_text::kAll, true);
  vdtest::ExpectShippedFilesHold(vd::info_text::kAll, true);
}

}  // namespace
