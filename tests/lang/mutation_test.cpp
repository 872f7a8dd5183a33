// A language file is input from outside the program: damaged copies of a valid file, in each encoding,
// must each either load or leave the English defaults, without crashing, hanging or leaking handles.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>

#include "lang_file.h"
#include "lang_test_util.h"
#include "language_manager.h"

namespace {

using langtest::Encoding;

const wchar_t kValid[] =
    L"; a valid file\r\n"
    L"[settings]\r\nCodePage=2052\r\nLanguage=\x4E2D\x6587\r\nFontFace=SimSun\r\nFontHeight=9\r\n\r\n"
    L"[strings]\r\n"
    L"128=DUMMY\\nSecond\r\n"
    L"32771=\x663E\x793A(&S)\r\n"
    L"90000=\x8FD8\x6709%d\x5929\\r\\n\\t\\\\ end  \r\n"
    L"11020=wrong %d times,\\r\\n                 %d left\r\n"
    L"  # indented comment\r\n"
    L"[other]\r\nkey = value\r\n"
    L"[strings]\r\n"
    L"102=\x8BC1\x4E66\x7BA1\x7406\x5668\r\n";

enum class Mutation { Flip, Truncate, Insert };

std::vector<uint8_t> Mutate(std::vector<uint8_t> bytes, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  int count = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int i = 0; i < count; ++i) {
    auto kind = static_cast<Mutation>(std::uniform_int_distribution<int>(0, 2)(rng));
    size_t at = bytes.empty() ? 0 : std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(rng);
    switch (kind) {
      case Mutation::Flip:
        if (!bytes.empty()) bytes[at] ^= static_cast<uint8_t>(1 + byte(rng) % 255);
        break;
      case Mutation::Truncate:
        bytes.resize(at);
        break;
      case Mutation::Insert: {
        // Mostly the characters the format cares about, sometimes anything.
        static const uint8_t kSpecial[] = {'[', ']', '=', '\\', '\r', '\n', 0, '#', ';', ' ', '%', 0xFF, 0xFE};
        int n = std::uniform_int_distribution<int>(1, 8)(rng);
        for (int k = 0; k < n; ++k) {
          uint8_t b = (byte(rng) & 1) ? kSpecial[byte(rng) % sizeof(kSpecial)] : static_cast<uint8_t>(byte(rng));
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size())), b);
        }
        break;
      }
    }
  }
  return bytes;
}

// What a load of these bytes must come to, by the pure functions.
std::optional<vd::LanguageSettings> Expected(const std::vector<uint8_t>& bytes) {
  auto text = vd::DecodeLanguageText(bytes.data(), bytes.size());
  if (!text) return std::nullopt;
  vd::LanguageContent content;
  if (!vd::ParseLanguageText(*text, content)) return std::nullopt;
  auto settings = vd::ReadSettings(content);
  if (!settings || content.count(L"strings") == 0) return std::nullopt;
  return settings;
}

TEST(LanguageFileMutation, DamagedFilesLoadOrFallBackToEnglish) {
  const DWORD handlesBefore = [] {
    DWORD n = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &n);
    return n;
  }();
  const DWORD start = ::GetTickCount();
  int loaded = 0, refused = 0;
  for (Encoding encoding : {Encoding::Utf16Le, Encoding::Utf8, Encoding::Ansi}) {
    std::vector<uint8_t> valid = langtest::Encode(kValid, encoding);
    ASSERT_TRUE(Expected(valid).has_value());
    std::mt19937 rng(1234 + static_cast<int>(encoding));
    langtest::LangDir dir;
    for (int i = 0; i < 2000; ++i) {
      std::vector<uint8_t> bytes = Mutate(valid, rng);
      auto expected = Expected(bytes);
      expected ? ++loaded : ++refused;
      // Every tenth case goes the whole way: through a file and a manager.
      if (i % 10 != 0) continue;
      SCOPED_TRACE(testing::Message() << "encoding " << static_cast<int>(encoding) << " case " << i);
      ASSERT_TRUE(dir.WriteBytes(2052, bytes));
      vd::LanguageManager m;
      m.SetLanguageDirectory(dir.dir());
      m.SetLanguageBaseName(dir.base());
      m.SetLanguageId(2052);
      ASSERT_EQ(m.IsLoaded(), expected.has_value());
      if (expected) {
        EXPECT_EQ(m.GetLanguageId(), expected->codePage);
      } else {
        EXPECT_EQ(m.GetLanguageId(), 1033);
        EXPECT_EQ(m.GetLanguageName(), L"English");
        EXPECT_EQ(m.LangString(102, L"Certificate Manager"), L"Certificate Manager");
      }
    }
  }
  // Both outcomes must have been exercised, or the mutations were too weak or too strong to mean anything.
  EXPECT_GT(loaded, 100);
  EXPECT_GT(refused, 100);
  EXPECT_LT(::GetTickCount() - start, 30000u);
  DWORD handlesAfter = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
  EXPECT_EQ(handlesAfter, handlesBefore);
}

}  // namespace
