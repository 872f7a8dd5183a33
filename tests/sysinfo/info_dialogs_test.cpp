// The device-information and Important dialogs: the text in its fixed order for each token state, what a
// language file changes in it, the product version's cut, the template chosen by the interface language,
// and the hidden buttons that still close the dialogs.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "commands_driver.h"
#include "commands_ids.h"
#include "commands_registry.h"
#include "device_info_dlg.h"
#include "important_dlg.h"
#include "os_version.h"
#include "product.h"
#include "registry.h"
#include "scoped_language.h"
#include "screenshot.h"

namespace {

using cmdtest::DialogDriver;
using cmdtest::ItemText;
using cmdtest::SavedValue;

const vd::SystemFacts kSystem = {L"Microsoft Windows 7 Ultimate Edition", L"Version 6.1 Service Pack 1 (Build 7601)",
                                 L"IE 8.0.7601.17514", L"2.0.1"};

vd::TokenFacts Token(int count, int wrong, int left, CK_RV pinInfo = CKR_OK) {
  return {L"Brindlemark", L"SN-0042         ", count, wrong, left, pinInfo};
}

const wchar_t kHead[] =
    L"OS Version:Microsoft Windows 7 Ultimate Edition\r\n"
    L"             Version 6.1 Service Pack 1 (Build 7601)\r\n\r\n"
    L"IE Version:IE 8.0.7601.17514\r\n\r\n";
const wchar_t kTokenLines[] =
    L"USBKey Model:Brindlemark\r\n\r\n"
    L"USBKey Serial Number:SN-0042         \r\n\r\n";
const wchar_t kVersionLine[] = L"Certificate Manager Version:2.0.1\r\n\r\n";

TEST(DeviceInfoText, LinesFollowTheTokenState) {
  struct Row {
    const char* what;
    vd::TokenFacts token;
    std::wstring text;
  } rows[] = {
      {"no token", vd::TokenFacts{}, std::wstring(kHead) + kVersionLine + L"USBKey State:Not Connected!\r\n\r\n"},
      {"2 wrong tries, 4 left", Token(1, 2, 4),
       std::wstring(kHead) + kTokenLines + kVersionLine +
           L"USBKey State:Connected!\r\n\r\n"
           L"USBKey PIN State:Have inputed the wrong password 2 times,\r\n                 You have 4 chances\r\n\r\n"},
      {"blocked, whatever the wrong tries say", Token(2, 3, 0),
       std::wstring(kHead) + kTokenLines + kVersionLine +
           L"USBKey State:Connected!\r\n\r\n"
           L"USBKey PIN State:This USBKey has been blocked! Please go to \r\n"
           L"                 Bank Counter to handle the matter!\r\n\r\n"},
      // Tries that could not be read are no blocked PIN.
      {"PIN information entry missing", Token(1, 0, 0, CKR_FUNCTION_NOT_SUPPORTED),
       std::wstring(kHead) + kTokenLines + kVersionLine +
           L"USBKey State:Connected!\r\n\r\n"
           L"USBKey PIN State:The PIN state cannot be read (error code 0x00000054)\r\n\r\n"},
      {"token pulled while its PIN information was read", Token(1, 0, 0, CKR_DEVICE_REMOVED),
       std::wstring(kHead) + kTokenLines + kVersionLine +
           L"USBKey State:Connected!\r\n\r\n"
           L"USBKey PIN State:The PIN state cannot be read (error code 0x00000032)\r\n\r\n"},
      {"a facts row with model and serial but no token count shows no token lines",
       vd::TokenFacts{L"M", L"S", 0, 2, 4}, std::wstring(kHead) + kVersionLine + L"USBKey State:Not Connected!\r\n\r\n"},
  };
  for (const Row& r : rows) EXPECT_EQ(vd::DeviceInfoText(r.token, kSystem), r.text) << r.what;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

TEST(DeviceInfoText, LanguageFileChangesOnlyTheLinesItRenames) {
  const std::vector<std::wstring> english = Lines(vd::DeviceInfoText(Token(1, 2, 4), kSystem));
  struct Row {
    const wchar_t* strings;
    std::wstring from, to;  // the one line that differs
  } rows[] = {
      {L"11018=Verbunden!\r\n", L"USBKey State:Connected!", L"USBKey State:Verbunden!"},
      // A translated format whose conversions differ from the default's is not used: no %s reads an int.
      {L"11018=Verbunden!\r\n11020=%s falsch\\n%d\r\n", L"USBKey State:Connected!", L"USBKey State:Verbunden!"},
      {L"11020=%d falsch, %d frei\r\n", L"USBKey PIN State:Have inputed the wrong password 2 times,",
       L"USBKey PIN State:2 falsch, 4 frei"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.strings);
    vdtest::ScopedLanguage language(r.strings);
    std::vector<std::wstring> translated = Lines(vd::DeviceInfoText(Token(1, 2, 4), kSystem));
    if (r.from.find(L"PIN") != std::wstring::npos) {
      // The English PIN text has two lines, the translation one.
      std::vector<std::wstring> expected = english;
      auto at = std::find(expected.begin(), expected.end(), r.from);
      ASSERT_NE(at, expected.end());
      *at = r.to;
      expected.erase(at + 1);
      EXPECT_EQ(translated, expected);
      continue;
    }
    ASSERT_EQ(translated.size(), english.size());
    for (size_t i = 0; i < english.size(); ++i) {
      EXPECT_EQ(translated[i], english[i] == r.from ? r.to : english[i]) << i;
    }
  }
}

TEST(ProductVersion, LongValuesAreCutAtAWholeCharacter) {
  const std::wstring key = L"\xD83D\xDD11";  // one character beyond the BMP: two UTF-16 units
  struct Row {
    std::wstring value, shown;
  } rows[] = {
      {L"3.1.0.7", L"3.1.0.7"},
      {std::wstring(19, L'9'), std::wstring(19, L'9')},
      {L"12345678901234567890123", L"1234567890123456789"},
      {std::wstring(18, L'v') + key, std::wstring(18, L'v')},          // the pair would be split: it goes whole
      {std::wstring(17, L'v') + key + L"x", std::wstring(17, L'v') + key},
      {std::wstring(18, L'v') + key + L"tail", std::wstring(18, L'v')},
  };
  cmdtest::ScratchKey scratch;
  for (const Row& r : rows) {
    ASSERT_TRUE(vd::RegWriteString(HKEY_CURRENT_USER, scratch.Subkey().c_str(), L"Version", r.value));
    wchar_t buffer[21];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    std::fill(buffer, buffer + 20, L'\0');
    ASSERT_TRUE(vd::OsVersionInfo::GetProductVersion(HKEY_CURRENT_USER, scratch.Subkey().c_str(), buffer, 20));
    EXPECT_EQ(std::wstring(buffer), r.shown) << r.value.size();
    EXPECT_EQ(buffer[20], L'#') << "written past the buffer";
  }
}

// How a user ends a dialog whose buttons are hidden.
enum class Close { kEnter, kEscape, kCloseBox };

void CloseAsUser(HWND dlg, Close how) {
  HWND focus = ::GetFocus();
  if (!focus) focus = dlg;
  switch (how) {
    case Close::kEnter:
      ::PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
      break;
    case Close::kEscape:
      ::PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      break;
    case Close::kCloseBox:
      ::PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

struct Seen {
  std::wstring title, group, text;
  LONG_PTR editStyle = 0, editExStyle = 0;
  bool okVisible = true, cancelVisible = true;
  int editWidth = 0, expectedWidth = 0;
  bool stillOpen = false;
};

// Opens the dialog through `run`, reads it, optionally saves a screenshot, and closes it as `how` says.
// editDlu: the width in dialog units the edit must have.
Seen OpenAndClose(const std::function<void()>& run, int groupId, int editId, int editDlu, Close how,
                  const wchar_t* screenshot = nullptr) {
  Seen seen;
  DialogDriver driver({[&](HWND dlg) {
                         seen.title = cmdtest::WindowText(dlg);
                         seen.group = ItemText(dlg, groupId);
                         seen.text = ItemText(dlg, editId);
                         HWND edit = ::GetDlgItem(dlg, editId);
                         seen.editStyle = ::GetWindowLongPtrW(edit, GWL_STYLE);
                         seen.editExStyle = ::GetWindowLongPtrW(edit, GWL_EXSTYLE);
                         seen.okVisible = ::IsWindowVisible(::GetDlgItem(dlg, IDOK));
                         seen.cancelVisible = ::IsWindowVisible(::GetDlgItem(dlg, IDCANCEL));
                         RECT r{};
                         ::GetWindowRect(edit, &r);
                         seen.editWidth = r.right - r.left;
                         RECT dlu{0, 0, editDlu, 10};
                         ::MapDialogRect(dlg, &dlu);
                         seen.expectedWidth = dlu.right;
                         if (screenshot) vdtest::SaveWindowPng(dlg, screenshot);
                         CloseAsUser(dlg, how);
                       },
                       [&](HWND dlg) {
                         seen.stillOpen = true;
                         ::SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                       }});
  run();
  EXPECT_FALSE(DialogDriver::WatchdogFired());
  return seen;
}

void ExpectReadOnlyTextDialog(const Seen& s) {
  EXPECT_FALSE(s.okVisible);
  EXPECT_FALSE(s.cancelVisible);
  EXPECT_TRUE(s.editStyle & ES_MULTILINE);
  EXPECT_TRUE(s.editStyle & ES_READONLY);
  EXPECT_TRUE(s.editStyle & ES_AUTOHSCROLL) << "long lines must not wrap";
  EXPECT_FALSE(s.editStyle & (WS_HSCROLL | WS_VSCROLL)) << "no scroll bars";
  // The edit turns the template's WS_BORDER into a sunken client edge, as on Windows.
  EXPECT_TRUE((s.editStyle & WS_BORDER) || (s.editExStyle & WS_EX_CLIENTEDGE));
}

TEST(DeviceInfoDialog, ShowsTheAssembledTextAndClosesWithoutVisibleButtons) {
  SavedValue version(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"Version");
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"Version", L"4.5.6.7"));
  const vd::SystemFacts system = vd::ReadSystemFacts();
  EXPECT_EQ(system.productVersion, L"4.5.6.7");
  const vd::OsVersionInfo os;
  EXPECT_EQ(system.productText, os.ProductText());
  EXPECT_EQ(system.versionText, os.VersionText());

  const vd::TokenFacts facts = Token(1, 2, 4);
  for (Close how : {Close::kEnter, Close::kEscape, Close::kCloseBox}) {
    SCOPED_TRACE(static_cast<int>(how));
    const Seen s = OpenAndClose([&] { vd::RunDeviceInfoDialog(nullptr, facts); }, IDC_DEVICE_INFO_GROUP,
                                IDC_DEVICE_INFO_TEXT, 249, how,
                                how == Close::kEnter ? L"device_info_en.png" : nullptr);
    EXPECT_FALSE(s.stillOpen);
    EXPECT_EQ(s.title, L"System Device Info");
    EXPECT_EQ(s.group, L"Device Information");
    EXPECT_EQ(s.text, vd::DeviceInfoText(facts, system));
    EXPECT_NE(s.text.find(L"Certificate Manager Version:4.5.6.7\r\n"), std::wstring::npos);
    EXPECT_EQ(s.editWidth, s.expectedWidth);
    ExpectReadOnlyTextDialog(s);
  }
}

TEST(ImportantDialog, TemplateFollowsTheInterfaceLanguage) {
  struct Row {
    int languageId;
    int templateId;
  } rows[] = {{1033, IDD_IMPORTANT_ENGLISH}, {2052, IDD_IMPORTANT}, {1028, IDD_IMPORTANT}, {0, IDD_IMPORTANT}};
  for (const Row& r : rows) EXPECT_EQ(vd::ImportantTemplateFor(r.languageId), r.templateId) << r.languageId;

  const std::wstring english = L"Important:\r\n\r\n1. For your financial security and convenient use of the \r\n";
  // A language file that cannot be loaded leaves the texts English but the layout the one asked for.
  struct Case {
    const char* what;
    const wchar_t* strings;  // empty: no language file
    int languageId;
    int editDlu;
    Close how;
  } cases[] = {
      {"no language file, English asked", L"", 1033, 250, Close::kEnter},
      {"no language file, 2052 asked", L"", 2052, 224, Close::kCloseBox},
      {"a file in language 2052", L"2023=Informationen\r\n", 2052, 224, Close::kEscape},
      {"a file in language 1033", L"2023=Informationen\r\n", 1033, 250, Close::kCloseBox},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vdtest::ScopedLanguage language(c.strings, c.languageId);
    const Seen s = OpenAndClose([] { vd::RunImportantDialog(nullptr); }, IDC_IMPORTANT_GROUP, IDC_IMPORTANT_TEXT,
                                c.editDlu, c.how);
    EXPECT_FALSE(s.stillOpen);
    EXPECT_EQ(s.editWidth, s.expectedWidth);
    EXPECT_EQ(s.title, L"Important");
    EXPECT_EQ(s.group, *c.strings ? L"Informationen" : L"Information");
    EXPECT_EQ(s.text.substr(0, english.size()), english);
    EXPECT_EQ(s.text, vd::ImportantText());
    ExpectReadOnlyTextDialog(s);
  }
}

TEST(InfoDialogs, ScreenshotsInTheShippedChinese) {
  cmdtest::ScopedShippedChinese chinese;
  const Seen device = OpenAndClose([] { vd::RunDeviceInfoDialog(nullptr, Token(1, 0, 6)); }, IDC_DEVICE_INFO_GROUP,
                                   IDC_DEVICE_INFO_TEXT, 249, Close::kEscape, L"device_info_zh.png");
  EXPECT_EQ(device.title, L"\x7CFB\x7EDF\x8BBE\x5907\x4FE1\x606F");
  EXPECT_EQ(device.text.substr(0, 7), L"\x64CD\x4F5C\x7CFB\x7EDF\x7248\x672C\xFF1A");
  const Seen important = OpenAndClose([] { vd::RunImportantDialog(nullptr); }, IDC_IMPORTANT_GROUP,
                                      IDC_IMPORTANT_TEXT, 224, Close::kEscape, L"important_zh.png");
  EXPECT_EQ(important.editWidth, important.expectedWidth);
  EXPECT_EQ(important.title, L"\x91CD\x8981\x63D0\x793A");
}

TEST(InfoDialogs, ScreenshotOfImportantInEnglish) {
  const Seen s = OpenAndClose([] { vd::RunImportantDialog(nullptr); }, IDC_IMPORTANT_GROUP, IDC_IMPORTANT_TEXT, 250,
                              Close::kEscape, L"important_en.png");
  EXPECT_FALSE(s.stillOpen);
}

}  // namespace
