// "InitKey" erases a token, so with a list of trusted origins installed only the pages it names may call
// it; the plug-in asks the browser for its page's origin. Without the list any page may, as before. The
// read-only queries answer every page.
#include <windows.h>

#include <gtest/gtest.h>

#include "plugin_page.h"
#include "testsupport.h"
#include "text.h"
#include "trusted_list.h"

using namespace plugintest;
using nphost::OriginStyle;

namespace {

enum class ListForm { kAbsent, kMulti, kText, kEmptyMulti, kDword };

struct Row {
  const char* what;
  ListForm form;
  const wchar_t* list;  // origins separated by '|' (kMulti) or the REG_SZ text as written
  const char* pageOrigin;
  OriginStyle style;
  bool initialises;
};

const Row kRows[] = {
    {"no list: any page, as before", ListForm::kAbsent, L"", "http://elsewhere.example", OriginStyle::kOrigin, true},
    {"no list, no window", ListForm::kAbsent, L"", "", OriginStyle::kNoWindow, true},
    {"listed", ListForm::kMulti, L"http://127.0.0.1:8080|https://bank.example", "https://bank.example",
     OriginStyle::kOrigin, true},
    {"listed, told by protocol and host", ListForm::kMulti, L"https://bank.example", "https://bank.example",
     OriginStyle::kProtocolAndHost, true},
    {"listed with case, default port and slash", ListForm::kText, L"  HTTPS://Bank.Example:443/\r\nhttp://x.example",
     "https://bank.example", OriginStyle::kOrigin, true},
    {"other scheme", ListForm::kMulti, L"https://bank.example", "http://bank.example", OriginStyle::kOrigin, false},
    {"other port", ListForm::kMulti, L"https://bank.example", "https://bank.example:8443", OriginStyle::kOrigin, false},
    {"suffix of a listed host", ListForm::kMulti, L"https://bank.example", "https://bank.example.evil.example",
     OriginStyle::kOrigin, false},
    {"listed host as a subdomain", ListForm::kMulti, L"https://bank.example", "https://evil.bank.example",
     OriginStyle::kOrigin, false},
    {"a path is no origin", ListForm::kMulti, L"https://bank.example/login", "https://bank.example",
     OriginStyle::kOrigin, false},
    {"page without a window", ListForm::kMulti, L"https://bank.example", "", OriginStyle::kNoWindow, false},
    {"opaque origin", ListForm::kMulti, L"https://bank.example", "null", OriginStyle::kOrigin, false},
    {"empty list", ListForm::kEmptyMulti, L"", "https://bank.example", OriginStyle::kOrigin, false},
    {"value of another type", ListForm::kDword, L"", "https://bank.example", OriginStyle::kOrigin, false},
};

std::vector<std::wstring> Split(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t bar; (bar = text.find(L'|', start)) != std::wstring::npos; start = bar + 1)
    parts.push_back(text.substr(start, bar - start));
  parts.push_back(text.substr(start));
  return parts;
}

class PluginOriginTest : public ::testing::Test {
 protected:
  void TearDown() override { nphost::SetPageOrigin("http://127.0.0.1"); }
  static void Ctl(const std::wstring& args) {
    ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", args).exitCode, 0u) << vd::WideToAnsi(args);
  }
  void Install(const Row& row) {
    switch (row.form) {
      case ListForm::kAbsent:
        list_.Remove();
        break;
      case ListForm::kMulti:
        ASSERT_TRUE(list_.SetList(Split(row.list)));
        break;
      case ListForm::kText:
        ASSERT_TRUE(list_.SetText(row.list));
        break;
      case ListForm::kEmptyMulti:
        ASSERT_TRUE(list_.SetList({}));
        break;
      case ListForm::kDword: {
        DWORD one = 1;
        ASSERT_TRUE(list_.SetRaw(REG_DWORD, &one, sizeof one));
        break;
      }
    }
  }

  vdtest::ScopedSimTokenDir tokens_;
  hosttest::ScopedTrustedOrigins list_;
};

TEST_F(PluginOriginTest, InitKeyOnlyFromListedPagesWhenThereIsAList) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    Ctl(L"reset");
    Ctl(L"insert 1 --serial ABCDEF123456");
    Ctl(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\"");
    Install(row);
    nphost::SetPageOrigin(row.pageOrigin, row.style);
    const long objectsBefore = nphost::LiveObjects();
    {
      Page page;
      ASSERT_TRUE(page.ready());
      // The read-only queries do not depend on the origin.
      EXPECT_EQ(page.Call("GetKeyCount"), "int 1");
      EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), row.initialises ? "int 0" : "int 4099");
      EXPECT_EQ(page.Call("GetAllCertCn"), row.initialises ? "string \"\"" : "string \"Alice Signer\"");
      // An empty serial is refused as such before the origin is asked.
      EXPECT_EQ(page.Call("InitKey", ""), "int 4101");
    }
    // The window and location objects the plug-in asked for were all released, and their strings freed.
    EXPECT_EQ(nphost::LiveObjects(), objectsBefore);
    EXPECT_EQ(nphost::OutstandingAllocations(), 0);
  }
}

}  // namespace
