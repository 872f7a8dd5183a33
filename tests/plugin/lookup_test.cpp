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
const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;

struct Entry {
  HKEY root;
  const wchar_t *name, *file, *type;  // file under the build's bin folder; null: no "Path" value
};

void Clear() {
  for (HKEY root : {kUser, kMachine}) ::RegDeleteTreeW(root, kScratch);
}

TEST(PluginLookupTest, FindsTheFirstEntryServingTheTypeWhoseFileExistsTheUsersFirst) {
  const struct {
    const char* why;
    std::vector<Entry> entries;
    const wchar_t* asked;
    const wchar_t* found;  // null: nothing
  } rows[] = {
      {"another type", {{kMachine, L"@a/p", L"npLumora.dll", L"application/x-other"}}, L"application/npLumora",
       nullptr},
      {"the user's entry first",
       {{kMachine, L"@a/p", L"npLumora.dll", L"application/npLumora"},
        {kUser, L"@b/p", L"nphost.exe", L"application/npLumora"}},
       L"application/npLumora", L"nphost.exe"},
      {"an entry whose file is gone, or without Path, is skipped",
       {{kMachine, L"@a/gone", L"gone.dll", L"application/npLumora"},
        {kMachine, L"@b/none", nullptr, L"application/npLumora"},
        {kMachine, L"@c/p", L"npLumora.dll", L"application/npLumora"}},
       L"application/npLumora", L"npLumora.dll"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    Clear();
    for (const Entry& e : row.entries) {
      const std::wstring key = std::wstring(kScratch) + L"\\" + e.name;
      if (e.file) {
        ASSERT_TRUE(vd::RegWriteString(e.root, key.c_str(), L"Path", vdtest::BinDir() + e.file));
      }
      ASSERT_TRUE(vd::RegWriteString(e.root, (key + L"\\MimeTypes\\" + e.type).c_str(), L"Description", L"x"));
    }
    const std::optional<std::wstring> path = nphost::FindPluginForMimeType(row.asked, kScratch);
    EXPECT_EQ(path.value_or(L"(none)"), row.found ? vdtest::BinDir() + row.found : L"(none)");
  }
  Clear();
}

}  // namespace
