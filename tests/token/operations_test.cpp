// The token operations behind the rename and device-information commands, against the simulated token,
// and the text rules they rest on: UTF-8 labels decoded with U+FFFD, names cut at whole characters.
#include <gtest/gtest.h>

#include <string>

#include "commands_module.h"
#include "text.h"
#include "token_operations.h"

namespace {

using cmdtest::TokenModuleTest;

TEST(Utf8ToWide, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  struct Row {
    const char* bytes;
    const wchar_t* text;
  } rows[] = {
      {"Bank Key", L"Bank Key"},
      {"\xE4\xB8\xAD\xE6\x96\x87", L"\x4E2D\x6587"},
      {"\xF0\x9F\x94\x91 key", L"\xD83D\xDD11 key"},  // beyond the BMP: a surrogate pair
      {"A\xFF" "B", L"A\xFFFD" L"B"},
      {"\x80\x80", L"\xFFFD\xFFFD"},                   // continuation bytes without a lead
      {"\xC0\xAF", L"\xFFFD\xFFFD"},                   // overlong '/'
      {"\xE0\x80\xAF", L"\xFFFD\xFFFD\xFFFD"},         // overlong three-byte form
      {"\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD"},         // an encoded surrogate
      {"\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
      {"\xE4\xB8" "A", L"\xFFFD" L"A"},                // a cut character does not swallow the next one
      {"ok\xE4\xB8", L"ok\xFFFD"},                     // nor ends the text early
      {"\xF0\x9F\x94", L"\xFFFD"},
  };
  for (const Row& r : rows) EXPECT_EQ(vd::Utf8ToWide(r.bytes), r.text) << r.bytes;
}

TEST(Utf8Prefix, CutsOnlyBetweenCharacters) {
  struct Row {
    const char* text;
    size_t max;
    const char* prefix;
  } rows[] = {
      {"abc", 5, "abc"},
      {"abcdef", 3, "abc"},
      {"ab\xC3\xA9", 3, "ab"},                   // é would be split
      {"ab\xC3\xA9", 4, "ab\xC3\xA9"},
      {"a\xE4\xB8\xAD", 2, "a"},
      {"a\xE4\xB8\xAD", 3, "a"},
      {"\xF0\x9F\x94\x91", 3, ""},
      {"\x80\x80\x80\x80\x80", 2, "\x80\x80"},   // no lead to go back to: bytes as they are
  };
  for (const Row& r : rows) EXPECT_EQ(std::string(vd::Utf8Prefix(r.text, r.max)), r.prefix) << r.text << "/" << r.max;
}

class Operations : public TokenModuleTest {};

TEST_F(Operations, LabelIsWrittenAsUtf8PaddedWithBlanks) {
  Ctl(L"insert 1 --label Old");
  const std::string thirtyTwo(32, 'x');
  struct Row {
    std::wstring name;
    std::string label;  // before padding
  } rows[] = {
      {L"AB", "AB"},
      {std::wstring(31, L'n'), std::string(31, 'n')},
      {std::wstring(40, L'x'), thirtyTwo},
      {L"\x00E9t\x00E9", "\xC3\xA9t\xC3\xA9"},
      {std::wstring(11, L'\x4E2D'), std::string("\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD"
                                                "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD")},
      {L"", ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(vd::WriteTokenLabel(aux(), 1, r.name), static_cast<CK_RV>(CKR_OK));
    EXPECT_EQ(RawLabel(1), Padded(r.label)) << vd::WideToUtf8(r.name);
    std::string read;
    EXPECT_EQ(vd::ReadTokenLabel(fl(), 1, &read), static_cast<CK_RV>(CKR_OK));
    EXPECT_EQ(read, r.label);
  }
}

TEST_F(Operations, RefusedOrImpossibleWritesReportAFailureAndKeepTheLabel) {
  Ctl(L"insert 2 --label Kept");
  Fail(L"E_SetLabel 0x30");
  EXPECT_EQ(vd::WriteTokenLabel(aux(), 2, L"New"), static_cast<CK_RV>(CKR_DEVICE_ERROR));
  EXPECT_EQ(RawLabel(2), Padded("Kept"));
  Fail(L"--clear");

  AuxFunctionList withoutLabel = *aux();
  withoutLabel.setLabel = nullptr;
  EXPECT_EQ(vd::WriteTokenLabel(&withoutLabel, 2, L"New"), static_cast<CK_RV>(CKR_FUNCTION_NOT_SUPPORTED));
  EXPECT_EQ(vd::WriteTokenLabel(nullptr, 2, L"New"), static_cast<CK_RV>(CKR_FUNCTION_NOT_SUPPORTED));
  EXPECT_EQ(RawLabel(2), Padded("Kept"));

  Ctl(L"remove 2");
  EXPECT_NE(vd::WriteTokenLabel(aux(), 2, L"New"), static_cast<CK_RV>(CKR_OK));
  std::string read = "stale";
  EXPECT_NE(vd::ReadTokenLabel(fl(), 2, &read), static_cast<CK_RV>(CKR_OK));
  EXPECT_EQ(read, "");
}

// Answers PIN information from a fixed row, for counters the simulated token cannot hold.
CK_BYTE g_pinInfo[4];
CK_RV FixedPinInfo(CK_SLOT_ID, CK_BYTE* out4) {
  std::memcpy(out4, g_pinInfo, 4);
  return CKR_OK;
}

TEST_F(Operations, FactsOfTheSelectedToken) {
  Ctl(L"insert 3 --model \"Brindlemark  \" --serial SN-0042 --tries 6");
  struct Row {
    const char* what;
    const wchar_t* setup;  // tokenctl arguments, or null
    bool fault;            // setup is a fault rule
    int tokenCount;
    const wchar_t* model;
    const wchar_t* serial;
    int wrong, left;
    CK_RV pinInfo;
  } rows[] = {
      {"no token listed", nullptr, false, 0, L"", L"", 0, 0, CKR_OK},
      {"fresh", nullptr, false, 1, L"Brindlemark", L"SN-0042         ", 0, 6, CKR_OK},
      {"two wrong tries", L"set 3 --tries 4", false, 2, L"Brindlemark", L"SN-0042         ", 2, 4, CKR_OK},
      {"blocked", L"set 3 --tries 0", false, 1, L"Brindlemark", L"SN-0042         ", 6, 0, CKR_OK},
      {"token info fails", L"C_GetTokenInfo 0x30", true, 1, L"", L"", 6, 0, CKR_OK},
      {"PIN info fails", L"E_GetPinInfo 0x30", true, 1, L"Brindlemark", L"SN-0042         ", 0, 0, 0x30},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Fail(L"--clear");
    if (r.setup && r.fault) Fail(r.setup);
    if (r.setup && !r.fault) Ctl(r.setup);
    const vd::TokenFacts f = vd::ReadTokenFacts(fl(), aux(), 3, r.tokenCount);
    EXPECT_EQ(f.tokenCount, r.tokenCount);
    EXPECT_EQ(f.model, r.model);
    EXPECT_EQ(f.serial, r.serial);
    EXPECT_EQ(f.wrongTries, r.wrong);
    EXPECT_EQ(f.triesLeft, r.left);
    EXPECT_EQ(f.pinInfoResult, r.pinInfo);
  }
  Fail(L"--clear");

  // One character per byte: the model's UTF-8 bytes are not decoded.
  Ctl(L"insert 4 --model Mod\x00E8le");
  EXPECT_EQ(vd::ReadTokenFacts(fl(), aux(), 4, 1).model, L"Mod\x00C3\x00A8le");

  AuxFunctionList fixed = *aux();
  fixed.getPinInfo = &FixedPinInfo;
  const CK_BYTE rows2[][4] = {{6, 6, 10, 3}, {6, 6, 3, 5}, {6, 6, 255, 0}};
  const int wrong[] = {7, 0, 255};
  for (size_t i = 0; i < 3; ++i) {
    std::memcpy(g_pinInfo, rows2[i], 4);
    const vd::TokenFacts f = vd::ReadTokenFacts(fl(), &fixed, 3, 1);
    EXPECT_EQ(f.wrongTries, wrong[i]) << i;
    EXPECT_EQ(f.triesLeft, rows2[i][3]) << i;
  }

  // A module without the PIN entry, or none bound at all: what can be read is read, the rest stays 0.
  fixed.getPinInfo = nullptr;
  const vd::TokenFacts noPinEntry = vd::ReadTokenFacts(fl(), &fixed, 3, 1);
  EXPECT_EQ(noPinEntry.model, L"Brindlemark");
  EXPECT_EQ(noPinEntry.pinInfoResult, static_cast<CK_RV>(CKR_FUNCTION_NOT_SUPPORTED));
  const vd::TokenFacts unbound = vd::ReadTokenFacts(nullptr, nullptr, 3, 1);
  EXPECT_EQ(unbound.model, L"");
  EXPECT_EQ(unbound.triesLeft, 0);
  EXPECT_EQ(unbound.pinInfoResult, static_cast<CK_RV>(CKR_FUNCTION_NOT_SUPPORTED));
}

}  // namespace
