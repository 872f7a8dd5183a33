// The language files the program ships, as the build lays them out, and the check that a text table is in
// them: every id present, with the format conversions the code fills, the English file saying what the
// code's default says.
#pragma once

#include <span>

#include "lang_file.h"
#include "text_table.h"

namespace vdtest {

inline constexpr int kShippedLanguages[] = {1033, 2052};

// The "strings" section of the shipped file of one language; empty when it cannot be read.
vd::LangSection ShippedStrings(int languageId);

// Fails the running test for each entry of `table` that a shipped file lacks or formats otherwise. With
// `translated`, the Chinese text must also differ from the English one.
void ExpectShippedFilesHold(std::span<const vd::TextEntry> table, bool translated);

}  // namespace vdtest
