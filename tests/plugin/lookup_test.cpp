// Finding the plug-in for a MIME type through the registry, as a browser does, in a scratch copy of the
// plug-ins key under both roots.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_lookup.h"
#include "registry.h"
#include "testsupport.h"

namespace {

constexpr wchar_t kScratch[] = L"Software\\vdtest\\MozillaPlugins";

struct Entry {
  HKEY root;
  const wchar_t* name;
  const wchar_t* file;  // under the build's bin folder; null: no "Path" value
  const wchar_t* type;
};

class PluginLookupTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) ::RegDeleteTreeW(root, kScratch);
  }
  static void Register(const Entry& e) {
    const std::wstring key = std::wstring(kScratch) + L"\\" + e.name;
    if (e.file) {
      ASSERT_TRUE(vd::RegWriteString(e.root, key.c_str(), L"Path", vdtest::BinDir() + e.file));
    }
    ASSERT_TRUE(vd::RegWriteString(e.root, (key + L"\\MimeTypes\\" + e.type).c_str(), L"Description", L"x"));
  }
};

TEST_F(PluginLookupTest, FindsTheFileOfTheFirstEntryThatServesTheTypeAndExists) {
  const HKEY user = HKEY_CURRENT_USER, machine = HKEY_LOCAL_MACHINE;
  const struct {
    const char* why;
    std::vector<Entry> entries;
    const wchar_t* asked;
    const wchar_t* found;  // null: nothing
  } rows[] = {
      {"machine's entry", {{machine, L"@a/p", L"npLumora.dll", L"application/npLumora"}},
       L"application/npLumora", L"npLumora.dll"},
      {"types compare without case", {{machine, L"@a/p", L"npLumora.dll", L"application/npLumora"}},
       L"APPLICATION/NPLUMORA", L"npLumora.dll"},
      {"another type only", {{machine, L"@a/p", L"npLumora.dll", L"application/x-other"}},
       L"application/npLumora", nullptr},
      {"the user's entry comes first",
       {{machine, L"@a/p", L"npLumora.dll", L"application/npLumora"},
        {user, L"@b/p", L"nphost.exe", L"application/npLumora"}},
       L"application/npLumora", L"nphost.exe"},
      {"an entry whose file is gone is skipped",
       {{machine, L"@a/gone", L"no-such-plugin.dll", L"application/npLumora"},
        {machine, L"@b/p", L"npLumora.dll", L"application/npLumora"}},
       L"application/npLumora", L"npLumora.dll"},
      {"an entry without Path is skipped", {{user, L"@a/p", nullptr, L"application/npLumora"}},
       L"application/npLumora", nullptr},
      {"a type with a backslash is no type, even where the keys nest so",
       {{machine, L"@a/p", L"npLumora.dll", L"application/x\\nested"}}, L"application/x\\nested", nullptr},
      {"no type", {{machine, L"@a/p", L"npLumora.dll", L"application/npLumora"}}, L"", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    Clear();
    for (const Entry& e : row.entries) ASSERT_NO_FATAL_FAILURE(Register(e));
    std::optional<std::wstring> path = nphost::FindPluginForMimeType(row.asked, kScratch);
    if (row.found) {
      EXPECT_EQ(path.value_or(L"(none)"), vdtest::BinDir() + row.found);
    } else {
      EXPECT_FALSE(path.has_value());
    }
  }
}

}  // namespace
