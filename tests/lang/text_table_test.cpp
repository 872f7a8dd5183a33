// The one rule for translated formats: a language file's text is used only when its conversions are the
// English default's; the arguments must fit the default's conversions too.
#include <gtest/gtest.h>

#include <optional>

#include "scoped_language.h"
#include "text_table.h"

namespace {

#define VD_TEST_TEXTS(X)                          \
  X(kPlain, 7001, L"Plain text")                  \
  X(kCount, 7002, L"You have %d Chances")         \
  X(kTwo, 7003, L"wrong %d times, %d left")       \
  X(kCode, 7004, L"failed!error code:0x%08x")     \
  X(kNamed, 7005, L"Saving %s, please wait...")
VD_TEXT_TABLE(test_text, VD_TEST_TEXTS)

TEST(TextTable, ListsEveryEntryInOrder) {
  ASSERT_EQ(std::size(test_text::kAll), 5u);
  EXPECT_EQ(test_text::kAll[0].id, 7001);
  EXPECT_EQ(test_text::kAll[4].id, test_text::kNamed.id);
  EXPECT_STREQ(test_text::kAll[2].english, L"wrong %d times, %d left");
}

TEST(TextTable, TranslationIsUsedOnlyWithTheDefaultsConversions) {
  struct Row {
    const wchar_t* name;
    const vd::TextEntry& entry;
    const wchar_t* translation;  // null: no language file entry
    std::initializer_list<vd::FormatArg> args;
    const wchar_t* expected;
  } rows[] = {
      {L"default", test_text::kCount, nullptr, {3}, L"You have 3 Chances"},
      {L"translated", test_text::kCount, L"\x8FD8\x6709%d\x6B21", {3}, L"\x8FD8\x6709" L"3\x6B21"},
      {L"percent kept", test_text::kCount, L"100%% sure: %d", {3}, L"100% sure: 3"},
      {L"string for a number", test_text::kCount, L"%s left", {3}, L"You have 3 Chances"},
      {L"stray conversion", test_text::kCount, L"%s left %d%% %x %", {7}, L"You have 7 Chances"},
      {L"one conversion too many", test_text::kCount, L"%d %d", {3}, L"You have 3 Chances"},
      {L"none", test_text::kCount, L"no number", {3}, L"You have 3 Chances"},
      {L"dangling percent", test_text::kCount, L"%d%", {3}, L"You have 3 Chances"},
      {L"pointer write", test_text::kCount, L"%d%n", {3}, L"You have 3 Chances"},
      {L"star width", test_text::kCount, L"%*d", {3}, L"You have 3 Chances"},
      {L"wider type", test_text::kCount, L"%lld", {3}, L"You have 3 Chances"},
      {L"flags and width", test_text::kCount, L"[%-4d]", {3}, L"[3   ]"},
      {L"two in order", test_text::kTwo, L"%d/%d", {2, 4}, L"2/4"},
      {L"hex with width", test_text::kCode, nullptr, {0xA0u}, L"failed!error code:0x000000a0"},
      {L"text argument", test_text::kNamed, L"%s ...", {L"Certificate"}, L"Certificate ..."},
      {L"null text argument", test_text::kNamed, nullptr, {static_cast<const wchar_t*>(nullptr)},
       L"Saving , please wait..."},
  };
  for (const Row& r : rows) {
    std::wstring lines;
    if (r.translation) lines = std::to_wstring(r.entry.id) + L"=" + r.translation + L"\r\n";
    vdtest::ScopedLanguage language(lines.empty() ? L"0=unused\r\n" : lines);
    EXPECT_EQ(vd::FormatText(r.entry, r.args), r.expected) << r.name;
  }
}

TEST(TextTable, ArgumentsThatDoNotFitTheDefaultAreNeverRead) {
  vdtest::ScopedLanguage none(L"");
  // The wrong kind, too few, too many: the format comes back as written rather than reading garbage.
  EXPECT_EQ(vd::FormatText(test_text::kCount, {L"three"}), L"You have %d Chances");
  EXPECT_EQ(vd::FormatText(test_text::kTwo, {1}), L"wrong %d times, %d left");
  EXPECT_EQ(vd::FormatText(test_text::kPlain, {1}), L"Plain text");
  EXPECT_EQ(vd::FormatText(test_text::kPlain, {}), L"Plain text");
  EXPECT_EQ(vd::FormatText(test_text::kCode, {5}), L"failed!error code:0x%08x") << "signed for %x";
}

TEST(TextTable, TextUsesTheLanguageFileAndFallsBackToTheDefault) {
  {
    vdtest::ScopedLanguage none(L"");
    EXPECT_EQ(vd::Text(test_text::kPlain), L"Plain text");
  }
  vdtest::ScopedLanguage some(L"7001=\x6587\x5B57\r\n");
  EXPECT_EQ(vd::Text(test_text::kPlain), L"\x6587\x5B57");
  EXPECT_EQ(vd::Text(test_text::kCount), L"You have %d Chances");
}

TEST(TextTable, ConversionsNameLengthAndLetter) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(vd::FormatConversions(L"a %d b %-08lx c %s %% %5.2u"), (V{L"d", L"lx", L"s", L"u"}));
  EXPECT_EQ(vd::FormatConversions(L"%n %p %*d %"), (V{L"?", L"?", L"?", L"?"}));
  EXPECT_EQ(vd::FormatConversions(L"none"), V{});
}

}  // namespace
