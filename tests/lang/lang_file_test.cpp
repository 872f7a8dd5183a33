#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "lang_file.h"

namespace {

using vd::LanguageContent;

std::vector<uint8_t> Bytes(std::initializer_list<int> prefix, const std::string& rest = {}) {
  std::vector<uint8_t> b;
  for (int v : prefix) b.push_back(static_cast<uint8_t>(v));
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

std::vector<uint8_t> Utf16Le(const std::wstring& s, bool bom = true) {
  std::vector<uint8_t> b;
  if (bom) b = {0xFF, 0xFE};
  for (wchar_t c : s) {
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}

std::optional<std::wstring> Decode(const std::vector<uint8_t>& b) { return vd::DecodeLanguageText(b.data(), b.size()); }

TEST(LangFileDecode, EncodingFollowsTheFirstBytes) {
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    std::optional<std::wstring> text;
  } rows[] = {
      {"Utf16LeStopsAtNul", Utf16Le(std::wstring(L"a\x4E2D" L"b\0c", 5)), std::wstring(L"a\x4E2D" L"b")},
      {"Utf16LeOddLastByteIsALowHalf", Bytes({0xFF, 0xFE, 'x', 0, 'y'}), std::wstring(L"xy")},
      {"Utf16LeOnlyBom", Bytes({0xFF, 0xFE}), std::nullopt},
      {"Utf8Bom", Bytes({0xEF, 0xBB, 0xBF}, "a\xE4\xB8\xAD"), std::wstring(L"a\x4E2D")},
      {"Utf8StopsAtNul", Bytes({0xEF, 0xBB, 0xBF, 'q', 0, 'r'}), std::wstring(L"q")},
      {"Utf8OnlyBom", Bytes({0xEF, 0xBB, 0xBF}), std::nullopt},
      {"Utf16BeRefused", Bytes({0xFE, 0xFF, 0, 'a'}), std::nullopt},
      {"AnsiPlain", Bytes({}, "[settings]"), std::wstring(L"[settings]")},
      {"AnsiOneByte", Bytes({'z'}), std::wstring(L"z")},
      {"Empty", Bytes({}), std::nullopt},
      {"LeadingNul", Bytes({0, 'a'}), std::nullopt},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Decode(row.bytes), row.text);
  }
  // Two bytes of a UTF-8 mark are not a mark: they are ANSI text like any other.
  auto shortMark = Decode(Bytes({0xEF, 0xBB}));
  ASSERT_TRUE(shortMark.has_value());
  EXPECT_EQ(shortMark->size(), 2u);
}

TEST(LangFileUnescape, EscapesAndBackslashRuns) {
  struct Row {
    const wchar_t* in;
    const wchar_t* out;
  } rows[] = {
      {L"two\\nlines", L"two\nlines"},
      {L"a\\tb\\rc", L"a\tb\rc"},
      {L"one\\\\slash", L"one\\slash"},
      {L"run\\\\\\\\\\of", L"run\\of"},
      {L"keep\\\\n", L"keep\\n"},
      {L"keep\\\\r and \\\\t", L"keep\\r and \\t"},
      {L"other \\x pairs", L"other \\x pairs"},
      {L"\\\\\\n", L"\\n"},
      {L"trailing\\", L"trailing\\"},
      {L"  spaces kept  ", L"  spaces kept  "},
      {L"", L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.in)));
    EXPECT_EQ(vd::UnescapeValue(row.in), row.out);
  }
}

TEST(LangFileUnescape, LongBackslashRunStaysLinear) {
  // Collapsing one doubled backslash at a time from the start would take hours for a run this long.
  DWORD start = ::GetTickCount();
  EXPECT_EQ(vd::UnescapeValue(L"a" + std::wstring(2'000'000, L'\\') + L"n"), L"a\\n");
  EXPECT_LT(::GetTickCount() - start, 5000u);
}

struct ParseRow {
  const char* name;
  const wchar_t* text;
  bool ok;
  const wchar_t* section;  // checked when ok
  const wchar_t* key;
  const wchar_t* value;
};

TEST(LangFileParse, LinesSectionsAndKeys) {
  const ParseRow rows[] = {
      {"CrLf", L"[s]\r\na=1\r\nb=2\r\n", true, L"s", L"b", L"2"},
      {"LfOnly", L"[s]\na=1\nb=2", true, L"s", L"b", L"2"},
      {"LastLineWithoutTerminator", L"[s]\r\nk=last", true, L"s", L"k", L"last"},
      // Once a CRLF exists further on, a lone LF does not end a line: "a=1\nb=2" is one value.
      {"LoneLfBeforeCrLfStaysInLine", L"[s]\r\na=1\nb=2\r\nc=3", true, L"s", L"a", L"1\nb=2"},
      {"ValueUntrimmedKeyTrimmed", L"[s]\n \t key \t=  v w  \n", true, L"s", L"key", L"  v w  "},
      {"IndentedHeader", L"  \t[s]\nk=v", true, L"s", L"k", L"v"},
      {"CommentLines", L"[s]\n#k=x\n ;k=y\nk=z", true, L"s", L"k", L"z"},
      {"HashInsideValueIsText", L"[s]\nk=a#b;c", true, L"s", L"k", L"a#b;c"},
      {"LineWithoutEqualsIgnored", L"[s]\njust words\nk=v", true, L"s", L"k", L"v"},
      {"NameBetweenFirstAndLastBracket", L"[a]b] tail\nk=v", true, L"a]b", L"k", L"v"},
      {"HeaderWithoutCloser", L"[open\nk=v", true, L"open", L"k", L"v"},
      {"NameNotTrimmed", L"[ s ]\nk=v", true, L" s ", L"k", L"v"},
      {"SectionsMerge", L"[s]\na=1\n[t]\nx=0\n[s]\nb=2", true, L"s", L"a", L"1"},
      {"SectionsMergeSecondBlock", L"[s]\na=1\n[t]\nx=0\n[s]\nb=2", true, L"s", L"b", L"2"},
      {"SameKeyInOtherSection", L"[s]\nk=1\n[t]\nk=2", true, L"t", L"k", L"2"},
      {"FirstEqualsSplits", L"[s]\nk=a=b", true, L"s", L"k", L"a=b"},
      {"EscapedValue", L"[s]\nk=a\\nb", true, L"s", L"k", L"a\nb"},
      {"EmptyKeyAllowed", L"[s]\n=v", true, L"s", L"", L"v"},
      {"CaseSensitiveKeys", L"[s]\nK=1\nk=2", true, L"s", L"K", L"1"},
      {"KeyBeforeSection", L"k=v\n[s]", false, nullptr, nullptr, nullptr},
      {"EmptySectionName", L"[s]\n[]\nk=v", false, nullptr, nullptr, nullptr},
      {"EmptySectionNameNoCloser", L"[", false, nullptr, nullptr, nullptr},
      {"DuplicateKey", L"[s]\nk=1\nk=2", false, nullptr, nullptr, nullptr},
      {"DuplicateKeyAcrossMergedSections", L"[s]\nk=1\n[t]\n[s]\nk=2", false, nullptr, nullptr, nullptr},
      {"DuplicateAfterTrim", L"[s]\nk=1\n k\t=2", false, nullptr, nullptr, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LanguageContent content;
    ASSERT_EQ(vd::ParseLanguageText(row.text, content), row.ok);
    if (!row.ok) continue;
    auto s = content.find(row.section);
    ASSERT_NE(s, content.end());
    EXPECT_EQ(s->second.name, row.section);
    EXPECT_EQ(vd::LookupValue(s->second, row.key), row.value);
  }
}

TEST(LangFileParse, ReparseDiscardsPreviousSections) {
  LanguageContent content;
  ASSERT_TRUE(vd::ParseLanguageText(L"[old]\nk=v", content));
  ASSERT_TRUE(vd::ParseLanguageText(L"[new]\nk=v", content));
  EXPECT_EQ(content.count(L"old"), 0u);
  EXPECT_EQ(content.size(), 1u);
}

TEST(LangFileParse, LongLfOnlyFileStaysLinear) {
  // 200 000 lines without CRLF: searching the rest of the text for CRLF on every line would take minutes.
  std::wstring text = L"[strings]\n";
  for (int i = 0; i < 200000; ++i) text += std::to_wstring(i) + L"=v\n";
  LanguageContent content;
  DWORD start = ::GetTickCount();
  ASSERT_TRUE(vd::ParseLanguageText(text, content));
  EXPECT_EQ(content[L"strings"].values.size(), 200000u);
  EXPECT_LT(::GetTickCount() - start, 5000u);
}

TEST(LangFileSettings, RequiredAndOptionalKeys) {
  struct Row {
    const char* name;
    const wchar_t* text;
    bool ok;
    int codePage;
    const wchar_t* language;
    const wchar_t* face;
    int height;
  } rows[] = {
      {"Complete", L"[settings]\nCodePage=2052\nLanguage=Chinese\nFontFace=SimSun\nFontHeight=9", true, 2052,
       L"Chinese", L"SimSun", 9},
      {"FontDefaults", L"[settings]\nCodePage=1033\nLanguage=English", true, 1033, L"English", L"Tahoma", 8},
      {"DecimalLikeTheRuntime", L"[settings]\nCodePage=  2052abc\nLanguage=x\nFontHeight=-12", true, 2052, L"x",
       L"Tahoma", -12},
      {"NoDigitsIsZero", L"[settings]\nCodePage=abc\nLanguage=x", true, 0, L"x", L"Tahoma", 8},
      {"MissingCodePage", L"[settings]\nLanguage=x", false, 0, nullptr, nullptr, 0},
      {"MissingLanguage", L"[settings]\nCodePage=1033", false, 0, nullptr, nullptr, 0},
      {"MarkerCountsAsMissing", L"[settings]\nCodePage=1033\nLanguage=DEFAULT_F94174A7C1D94A0E9D57739193CF18CC",
       false, 0, nullptr, nullptr, 0},
      {"NoSettingsSection", L"[Settings]\nCodePage=1033\nLanguage=x", false, 0, nullptr, nullptr, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LanguageContent content;
    ASSERT_TRUE(vd::ParseLanguageText(row.text, content));
    auto settings = vd::ReadSettings(content);
    ASSERT_EQ(settings.has_value(), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(settings->codePage, row.codePage);
    EXPECT_EQ(settings->language, row.language);
    EXPECT_EQ(settings->fontFace, row.face);
    EXPECT_EQ(settings->fontHeight, row.height);
  }
}

TEST(LangFileDecimal, OverflowClamps) {
  EXPECT_EQ(vd::ParseDecimal(L"99999999999999999999"), INT_MAX);
  EXPECT_EQ(vd::ParseDecimal(L"-99999999999999999999"), INT_MIN);
  EXPECT_EQ(vd::ParseDecimal(L"+7"), 7);
  EXPECT_EQ(vd::ParseDecimal(L"- 7"), 0);
}

TEST(LangFileName, DirectoryBaseNameAndId) {
  struct Row {
    std::wstring dir, base;
    int id;
    std::optional<std::wstring> name;
  } rows[] = {
      {L"C:\\App", L"lang\\qvcertd_Lumora", 2052, L"C:\\App/lang\\qvcertd_Lumora_2052.lng"},
      {L"C:\\App\\", L"x", 1033, L"C:\\App\\x_1033.lng"},
      {L"C:\\App/", L"x", 1033, L"C:\\App//x_1033.lng"},
      {L"d", L"b", 7, L"d/b_0007.lng"},
      {L"d", L"b", 123456, L"d/b_123456.lng"},
      {std::wstring(250, L'd'), L"bbbb", 1, std::nullopt},   // 251 + 4 > 254
      {std::wstring(249, L'd'), L"bbbb", 1, std::nullopt},  // 263 characters do not fit 260
      {std::wstring(240, L'd'), L"bbbb", 1, std::wstring(240, L'd') + L"/bbbb_0001.lng"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.dir.substr(0, 20)));
    EXPECT_EQ(vd::ComposeLanguageFileName(row.dir, row.base, row.id), row.name);
  }
}

}  // namespace
