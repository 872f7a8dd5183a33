// Only the pages the installed list of trusted origins names reach the token: the read queries answer
// others as a machine without a token would, and "InitKey" erases only after the user agreed. The plug-in
// asks the browser for its page's origin, never the page's script where the browser can tell. Without the
// list no page may.
#include <windows.h>

#include <gtest/gtest.h>

#include "erase_dialog.h"
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
  bool asked;       // the page is listed, so the user is asked
  bool initialises;  // and agrees: only a cancelled question stops it then
  const char* scriptSays = "";  // what the page's script makes window.location say, when it lies
};

const Row kRows[] = {
    {"no list: no page", ListForm::kAbsent, L"", "http://elsewhere.example", OriginStyle::kOrigin, false, false},
    {"no list, no window", ListForm::kAbsent, L"", "", OriginStyle::kNoWindow, false, false},
    {"listed, the user cancels", ListForm::kMulti, L"https://cancel.example", "https://cancel.example",
     OriginStyle::kOrigin, true, false},
    {"the browser's document origin, whatever the script says", ListForm::kMulti, L"https://bank.example",
     "https://bank.example", OriginStyle::kDocumentOrigin, true, true, "https://evil.example"},
    {"a script that claims a listed origin", ListForm::kMulti, L"https://bank.example", "https://evil.example",
     OriginStyle::kDocumentOrigin, false, false, "https://bank.example"},
    {"listed", ListForm::kMulti, L"http://127.0.0.1:8080|https://bank.example", "https://bank.example",
     OriginStyle::kOrigin, true, true},
    {"listed, told by protocol and host", ListForm::kMulti, L"https://bank.example", "https://bank.example",
     OriginStyle::kProtocolAndHost, true, true},
    {"listed with case, default port and slash", ListForm::kText, L"  HTTPS://Bank.Example:443/\r\nhttp://x.example",
     "https://bank.example", OriginStyle::kOrigin, true, true},
    {"other scheme", ListForm::kMulti, L"https://bank.example", "http://bank.example", OriginStyle::kOrigin, false, false},
    {"other port", ListForm::kMulti, L"https://bank.example", "https://bank.example:8443", OriginStyle::kOrigin, false, false},
    {"suffix of a listed host", ListForm::kMulti, L"https://bank.example", "https://bank.example.evil.example",
     OriginStyle::kOrigin, false, false},
    {"listed host as a subdomain", ListForm::kMulti, L"https://bank.example", "https://evil.bank.example",
     OriginStyle::kOrigin, false, false},
    {"a path is no origin", ListForm::kMulti, L"https://bank.example/login", "https://bank.example",
     OriginStyle::kOrigin, false, false},
    {"page without a window", ListForm::kMulti, L"https://bank.example", "", OriginStyle::kNoWindow, false, false},
    {"opaque origin", ListForm::kMulti, L"https://bank.example", "null", OriginStyle::kOrigin, false, false},
    {"empty list", ListForm::kEmptyMulti, L"", "https://bank.example", OriginStyle::kOrigin, false, false},
    {"value of another type", ListForm::kDword, L"", "https://bank.example", OriginStyle::kOrigin, false, false},
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
  void TearDown() override {
    nphost::SetPageOrigin("http://127.0.0.1");
    nphost::SetScriptOrigin("");
  }
  static void Ctl(const std::wstring& args) {
    ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", args).exitCode, 0u) << vd::WideToAnsi(args);
  }
  // One token with the serial ABCDEF123456 and `tokenctlLabel`, a page of `pageOrigin` listed as `listed`
  // asks to erase it, the user cancels: what the question showed, one entry per question.
  std::vector<vdtest::EraseDialogSeen> CancelledQuestion(const std::wstring& tokenctlLabel, const wchar_t* listed,
                                                         const char* pageOrigin) {
    Ctl(L"reset");
    Ctl(L"insert 1 --serial ABCDEF123456 --label " + tokenctlLabel);
    EXPECT_TRUE(list_.SetList({listed}));
    nphost::SetPageOrigin(pageOrigin);
    Page page;
    EXPECT_TRUE(page.ready());
    vdtest::EraseDialogAnswerer user(false);
    EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
    return user.seen();
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
    nphost::SetScriptOrigin(row.scriptSays);
    const long objectsBefore = nphost::LiveObjects();
    {
      Page page;
      ASSERT_TRUE(page.ready());
      vdtest::EraseDialogAnswerer user(row.initialises);
      // An unlisted page learns nothing about the token, not even that there is one.
      EXPECT_EQ(page.Call("GetKeyCount"), row.asked ? "int 1" : "int 0");
      EXPECT_EQ(page.Call("GetUKeySN"), row.asked ? "string \"ABCDEF123456    \"" : "string \"\"");
      EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), row.initialises ? "int 0" : "int 4099");
      EXPECT_EQ(page.Call("GetAllCertCn"), row.asked && !row.initialises ? "string \"Alice Signer\"" : "string \"\"");
      // An empty serial is refused as such before the origin is asked.
      EXPECT_EQ(page.Call("InitKey", ""), "int 4101");
      EXPECT_EQ(user.seen().size(), row.asked ? 1u : 0u);
    }
    // The window and location objects the plug-in asked for were all released, and their strings freed.
    EXPECT_EQ(nphost::LiveObjects(), objectsBefore);
    EXPECT_EQ(nphost::OutstandingAllocations(), 0);
  }
}

TEST_F(PluginOriginTest, TheQuestionNamesPageAndTokenAndCancelIsItsDefault) {
  const std::vector<vdtest::EraseDialogSeen> seen =
      CancelledQuestion(L"\"Bank Token\"", L"https://bank.example:8443", "HTTPS://bank.example:8443");
  ASSERT_EQ(seen.size(), 1u);
  const vdtest::EraseDialogSeen& q = seen[0];
  EXPECT_EQ(q.request, L"The page https://bank.example:8443 asks to re-initialise the token \"Bank Token\" (serial "
                       L"number ABCDEF123456).");
  EXPECT_NE(q.warning.find(L"Every certificate and key on the token will be erased"), std::wstring::npos);
  EXPECT_EQ(q.cancelButton, L"Cancel");
  EXPECT_EQ(q.eraseButton.find(L'&'), std::wstring::npos) << "no mnemonic: one stray key must not erase";
  EXPECT_EQ(q.defaultButton, IDCANCEL);
  EXPECT_TRUE(q.topmost);
}

// A label cannot pose as another part of the question, and a Unicode host is shown as a person reads it,
// beside the form the browser reports.
TEST_F(PluginOriginTest, TheQuestionShowsWhatCouldMisleadAsAVisibleMark) {
  const std::vector<vdtest::EraseDialogSeen> seen = CancelledQuestion(
      L"\"Bank\u202Eab\u200B\\\"x\"", L"https://b\u00fccher.example", "https://xn--bcher-kva.example");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].request, L"The page https://b\u00fccher.example (https://xn--bcher-kva.example) asks to "
                             L"re-initialise the token \"Bank\uFFFDab\uFFFD\uFFFDx\" (serial number ABCDEF123456).");
}

}  // namespace
