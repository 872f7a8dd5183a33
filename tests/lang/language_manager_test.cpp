#include <gtest/gtest.h>

#include "handles.h"
#include "lang_test_util.h"
#include "language_manager.h"
#include "testsupport.h"

namespace {

using langtest::Encoding;
using langtest::LangDir;
using langtest::SampleFile;
using vd::LanguageManager;

void Configure(LanguageManager& m, const LangDir& d, int id) {
  m.SetLanguageDirectory(d.dir());
  m.SetLanguageBaseName(d.base());
  m.SetLanguageId(id);
}

void ExpectDefaults(LanguageManager& m) {
  EXPECT_FALSE(m.IsLoaded());
  EXPECT_EQ(m.LangString(100, L"fallback"), L"fallback");
  EXPECT_EQ(m.GetLanguageId(), 1033);
  EXPECT_EQ(m.GetLanguageName(), L"English");
}

TEST(LanguageManagerLoad, WithoutAFileEveryLookupIsItsDefault) {
  LangDir d;
  LanguageManager m;
  Configure(m, d, 2052);
  ExpectDefaults(m);
  EXPECT_EQ(m.LangString(102, L"Certificate Manager"), L"Certificate Manager");
  EXPECT_EQ(m.LangString(102, nullptr), L"");
}

TEST(LanguageManagerLoad, EncodingsLoadAlikeAndBigEndianIsIgnored) {
  const std::wstring value = L"\x4E2D\x6587 caf\x00E9";  // Chinese and Latin-1 in one value
  struct Row {
    const char* name;
    Encoding encoding;
    bool loads;
    std::wstring value;
  } rows[] = {
      {"Utf16Le", Encoding::Utf16Le, true, value},
      {"Utf8", Encoding::Utf8, true, value},
      {"Ansi", Encoding::Ansi, true, L"plain ascii"},
      {"Utf16Be", Encoding::Utf16Be, false, value},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LangDir d;
    ASSERT_TRUE(d.Write(2052, SampleFile(2052, row.value), row.encoding));
    LanguageManager m;
    Configure(m, d, 2052);
    if (!row.loads) {
      ExpectDefaults(m);
      continue;
    }
    EXPECT_TRUE(m.IsLoaded());
    EXPECT_EQ(m.LangString(100, L"fallback"), row.value);
    EXPECT_EQ(m.LangString(101, L"missing"), L"missing");
    EXPECT_EQ(m.GetLanguageId(), 2052);
    EXPECT_EQ(m.GetLanguageName(), L"Sample");
    EXPECT_EQ(m.GetFontFace(), L"Tahoma");
    EXPECT_EQ(m.GetFontHeight(), 8);
  }
}

TEST(LanguageManagerLoad, IncompleteOrMalformedFilesAreIgnoredWhole) {
  struct Row {
    const char* name;
    const wchar_t* text;
  } rows[] = {
      {"NoCodePage", L"[settings]\nLanguage=x\n[strings]\n100=v"},
      {"NoLanguage", L"[settings]\nCodePage=2052\n[strings]\n100=v"},
      {"NoStrings", L"[settings]\nCodePage=2052\nLanguage=x\n[string]\n100=v"},
      {"NoSettings", L"[strings]\n100=v"},
      {"KeyBeforeSection", L"100=v\n[settings]\nCodePage=2052\nLanguage=x\n[strings]\n101=w"},
      {"EmptySectionName", L"[settings]\nCodePage=2052\nLanguage=x\n[]\n[strings]\n100=v"},
      {"SameKeyInMergedStrings", L"[settings]\nCodePage=2052\nLanguage=x\n[strings]\n100=v\n[other]\n[strings]\n100=w"},
      {"EmptyText", L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LangDir d;
    ASSERT_TRUE(d.Write(2052, row.text));
    LanguageManager m;
    Configure(m, d, 2052);
    ExpectDefaults(m);
  }
}

TEST(LanguageManagerLoad, ValuesAsWrittenInTheFile) {
  LangDir d;
  ASSERT_TRUE(d.Write(2052,
                      L"[settings]\nCodePage=2052\nLanguage=Chinese\nFontFace=SimSun\nFontHeight=9\n"
                      L"[strings]\n100=two\\nlines\n101=one\\\\slash\n102= padded  \n"
                      L"103=DEFAULT_F94174A7C1D94A0E9D57739193CF18CC\n"
                      L"[other]\nx=1\n[strings]\n104=merged\n"));
  LanguageManager m;
  Configure(m, d, 2052);
  ASSERT_TRUE(m.IsLoaded());
  EXPECT_EQ(m.LangString(100, L""), L"two\nlines");
  EXPECT_EQ(m.LangString(101, L""), L"one\\slash");
  EXPECT_EQ(m.LangString(102, L""), L" padded  ");
  EXPECT_EQ(m.LangString(103, L"caller's default"), L"caller's default");
  EXPECT_EQ(m.LangString(104, L""), L"merged");
  EXPECT_EQ(m.GetFontFace(), L"SimSun");
  EXPECT_EQ(m.GetFontHeight(), 9);
}

TEST(LanguageManagerLoad, FileNameFromDirectoryBaseNameAndId) {
  LangDir d;
  LanguageManager m;
  Configure(m, d, 2052);
  m.LangString(1, L"");
  EXPECT_EQ(m.LastFileName(), d.dir() + L"/lang\\qv_2052.lng");

  // With nothing configured, the program's own folder and name stand in.
  LanguageManager bare;
  bare.SetLanguageId(1033);
  bare.LangString(1, L"");
  std::wstring bin = vdtest::BinDir();
  EXPECT_EQ(bare.LastFileName(), bin.substr(0, bin.size() - 1) + L"/lang_test_1033.lng");
}

TEST(LanguageManagerLoad, SetLanguageIdReloadsOnlyOnAChange) {
  LangDir d;
  ASSERT_TRUE(d.Write(2052, SampleFile(2052, L"first")));
  ASSERT_TRUE(d.Write(1033, SampleFile(1033, L"english")));
  LanguageManager m;
  Configure(m, d, 2052);
  EXPECT_EQ(m.LangString(100, L""), L"first");

  ASSERT_TRUE(d.Write(2052, SampleFile(2052, L"second")));
  m.SetLanguageId(2052);
  EXPECT_EQ(m.LangString(100, L""), L"first");  // same id: the file is not read again

  m.SetLanguageId(1033);
  EXPECT_EQ(m.LangString(100, L""), L"english");
  EXPECT_EQ(m.GetLanguageId(), 1033);
  m.SetLanguageId(2052);
  EXPECT_EQ(m.LangString(100, L""), L"second");
  EXPECT_EQ(m.GetLanguageId(), 2052);
}

TEST(LanguageManagerLoad, FailedLoadIsRetriedOnlyAfterAChange) {
  LangDir d;
  LanguageManager m;
  Configure(m, d, 2052);
  EXPECT_EQ(m.LangString(100, L"default"), L"default");
  ASSERT_TRUE(d.Write(2052, SampleFile(2052, L"now there")));
  EXPECT_EQ(m.LangString(100, L"default"), L"default");
  m.SetLanguageDirectory(d.dir());
  m.SetLanguageBaseName(d.base());
  m.SetLanguageId(2052);
  EXPECT_EQ(m.LangString(100, L"default"), L"default");

  m.SetLanguageDirectory(d.dir() + L"\\");
  EXPECT_EQ(m.LangString(100, L"default"), L"now there");
}

TEST(LanguageManagerLoad, CodePageOfTheFileBecomesTheLanguageId) {
  // A file named for 1033 may declare itself Chinese; the "Important" dialog goes by what the file says.
  LangDir d;
  ASSERT_TRUE(d.Write(1033, SampleFile(2052, L"v")));
  LanguageManager m;
  Configure(m, d, 1033);
  EXPECT_EQ(m.GetLanguageId(), 2052);
  EXPECT_EQ(m.InterfaceLanguageId(), 2052);
}

TEST(LanguageManagerLoad, InterfaceLanguageIsTheOneAskedForWhenItsFileFails) {
  // No file for 2052: the texts fall back to English, but the user's language is still Chinese, which
  // decides the layout of the "Important" dialog.
  LangDir d;
  LanguageManager m;
  Configure(m, d, 2052);
  EXPECT_EQ(m.GetLanguageId(), 1033);
  EXPECT_EQ(m.InterfaceLanguageId(), 2052);
  Configure(m, d, 1033);
  EXPECT_EQ(m.InterfaceLanguageId(), 1033);
}

TEST(LanguageManagerLoad, FileOver16MiBFailsWithoutBeingRead) {
  // A valid file padded with zeros: read whole, it would load, since the text ends at the first NUL.
  for (LONGLONG size : {16LL << 20, (16LL << 20) + 1}) {
    SCOPED_TRACE(size);
    LangDir d;
    ASSERT_TRUE(d.Write(2052, SampleFile(2052, L"big")));
    {
      vd::UniqueFile f(::CreateFileW(d.FileFor(2052).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(f);
      LARGE_INTEGER at;
      at.QuadPart = size;
      ASSERT_TRUE(::SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN));
      ASSERT_TRUE(::SetEndOfFile(f.get()));
    }
    LanguageManager m;
    Configure(m, d, 2052);
    EXPECT_EQ(m.IsLoaded(), size <= (16LL << 20));
  }
}

TEST(LanguageManagerDefaultId, UiLanguageMapsToAShippedLanguage) {
  struct Row {
    LANGID ui;
    int id;
  } rows[] = {{1028, 1028}, {3076, 1028}, {4100, 1028}, {5124, 1028}, {2052, 2052},
              {1033, 1033}, {2057, 1033}, {1031, 1033}, {1041, 1033}, {0, 1033}};
  for (const auto& row : rows) EXPECT_EQ(vd::LanguageIdForUiLanguage(row.ui), row.id) << row.ui;
  EXPECT_EQ(vd::DefaultLanguageId(), vd::LanguageIdForUiLanguage(::GetUserDefaultUILanguage()));
}

}  // namespace
