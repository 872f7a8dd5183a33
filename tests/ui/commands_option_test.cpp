// The Option command: what the dialog shows of the stored choice, what OK stores as another program reads
// it, the token manager opening the home page at the next insertion, and the two failure messages.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "commands_driver.h"
#include "commands_ids.h"
#include "commands_registry.h"
#include "option_dlg.h"
#include "registry.h"
#include "screenshot.h"
#include "testsupport.h"
#include "token_manager.h"

namespace {

using cmdtest::DialogDriver;
using cmdtest::Enabled;
using cmdtest::ItemText;
using cmdtest::Press;
using cmdtest::SavedValue;
using cmdtest::ScratchKey;

// The machine's and the user's values in one scratch key: what the dialog shows and stores. Which of the two
// wins is the token tests' business.
vd::InstallKeyLocation Where(const ScratchKey& key) {
  return {HKEY_CURRENT_USER, key.Subkey(), HKEY_CURRENT_USER, key.Subkey()};
}

// A value as a second process reads it: "<type> <size> <bytes in hex>" or "absent".
std::string ProbeValue(const wchar_t* root, const std::wstring& subkey, const wchar_t* name) {
  const vdtest::ProcessResult r =
      vdtest::RunTool(L"commands_reg_probe.exe", std::wstring(root) + L" \"" + subkey + L"\" \"" + name + L"\"");
  EXPECT_EQ(r.exitCode, 0u);
  return r.out;
}

std::string Hex(const std::vector<BYTE>& bytes) {
  std::string s = "1 " + std::to_string(bytes.size());  // REG_SZ
  char b[4];
  for (BYTE c : bytes) {
    std::snprintf(b, sizeof b, " %02x", c);
    s += b;
  }
  return s;
}

std::vector<BYTE> Utf16z(const std::wstring& s) {
  std::vector<BYTE> out(reinterpret_cast<const BYTE*>(s.c_str()),
                        reinterpret_cast<const BYTE*>(s.c_str()) + (s.size() + 1) * sizeof(wchar_t));
  return out;
}

struct Shown {
  bool hide = false, show = false, addressEnabled = false, okFocused = false;
  std::wstring address;
};

Shown ReadShown(HWND dlg) {
  Shown s;
  s.hide = ::IsDlgButtonChecked(dlg, IDC_OPTION_HIDE_HOME) == BST_CHECKED;
  s.show = ::IsDlgButtonChecked(dlg, IDC_OPTION_SHOW_HOME) == BST_CHECKED;
  s.addressEnabled = Enabled(dlg, IDC_OPTION_ADDRESS);
  s.okFocused = ::GetFocus() == ::GetDlgItem(dlg, IDOK);
  s.address = ItemText(dlg, IDC_OPTION_ADDRESS);
  return s;
}

enum class Action { kCancel, kOk, kHide, kShow };

TEST(OptionCommand, ShowsTheStoredChoiceAndStoresTheNewOne) {
  const std::wstring longAddress = L"https://bank.example/" + std::wstring(280, L'p');
  const std::wstring maxAddress = L"https://bank.example/" + std::wstring(259 - 21, L'q');
  struct Row {
    const char* what;
    std::optional<std::vector<BYTE>> popFlag, address;  // stored before
    Action action;
    std::wstring typed;  // into the address edit, replacing it, for kShow
    Shown shown;         // at opening (okFocused: a stored choice moves the focus to OK)
    std::string popFlagAfter, addressAfter;
  } rows[] = {
      {"nothing stored, OK without a choice", std::nullopt, std::nullopt, Action::kOk, L"",
       {false, false, false, false, L""}, Hex({'0'}), "absent"},
      {"shown page, cancelled", std::vector<BYTE>{'1'}, Utf16z(L"https://a.example"), Action::kCancel, L"",
       {false, true, true, true, L"https://a.example"}, Hex({'1'}), Hex(Utf16z(L"https://a.example"))},
      {"hidden page, then shown with an address", std::vector<BYTE>{'0'}, std::nullopt, Action::kShow,
       L"https://b.example/x", {true, false, false, true, L""}, Hex({'1'}), Hex(Utf16z(L"https://b.example/x"))},
      {"shown page, then hidden: the address stays", std::vector<BYTE>{'1'}, Utf16z(L"x"), Action::kHide, L"",
       {false, true, true, true, L"x"}, Hex({'0'}), Hex(Utf16z(L"x"))},
      {"\"1\" in UTF-16, as another program writes it", Utf16z(L"1"), std::nullopt, Action::kOk, L"",
       {false, true, true, true, L""}, Hex({'1'}), Hex(Utf16z(L""))},
      {"an empty flag counts as hidden", std::vector<BYTE>{}, std::nullopt, Action::kOk, L"",
       {true, false, false, true, L""}, Hex({'0'}), "absent"},
      {"shown with an empty address", std::vector<BYTE>{'0'}, Utf16z(L"old"), Action::kShow, L"",
       {true, false, false, true, L"old"}, Hex({'1'}), Hex(Utf16z(L""))},
      {"the longest address the reader takes is shown", std::vector<BYTE>{'1'}, Utf16z(maxAddress), Action::kCancel,
       L"", {false, true, true, true, maxAddress}, Hex({'1'}), Hex(Utf16z(maxAddress))},
      {"an address too long for the reader is not shown, and typing stops at 259", std::vector<BYTE>{'1'},
       Utf16z(longAddress), Action::kShow, longAddress, {false, true, true, true, L""}, Hex({'1'}),
       Hex(Utf16z(longAddress.substr(0, 259)))},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ScratchKey key;
    if (r.popFlag) key.Set(L"PopFlag", *r.popFlag);
    if (r.address) key.Set(L"http Address", *r.address);
    Shown shown;
    std::wstring title;
    DialogDriver driver([&](HWND dlg) {
      shown = ReadShown(dlg);
      title = cmdtest::WindowText(dlg);
      switch (r.action) {
        case Action::kCancel: Press(dlg, IDCANCEL); return;
        case Action::kOk: break;
        case Action::kHide: Press(dlg, IDC_OPTION_HIDE_HOME); break;
        case Action::kShow:
          Press(dlg, IDC_OPTION_SHOW_HOME);
          EXPECT_TRUE(Enabled(dlg, IDC_OPTION_ADDRESS));
          cmdtest::Type(dlg, IDC_OPTION_ADDRESS, r.typed.empty() ? L"\b" : r.typed, true);
          break;
      }
      if (r.action == Action::kHide) {
        EXPECT_FALSE(Enabled(dlg, IDC_OPTION_ADDRESS));
      }
      Press(dlg, IDOK);
    });
    vd::RunOptionCommand(nullptr, L"Certificate Manager", Where(key));
    EXPECT_FALSE(DialogDriver::WatchdogFired()) << "a message box or the dialog stayed open";
    EXPECT_EQ(DialogDriver::Seen().size(), 1u);
    EXPECT_EQ(title, L"Option");
    EXPECT_EQ(shown.hide, r.shown.hide);
    EXPECT_EQ(shown.show, r.shown.show);
    EXPECT_EQ(shown.addressEnabled, r.shown.addressEnabled);
    EXPECT_EQ(shown.okFocused, r.shown.okFocused);
    EXPECT_EQ(shown.address, r.shown.address);
    EXPECT_EQ(ProbeValue(L"HKCU", key.Subkey(), L"PopFlag"), r.popFlagAfter);
    EXPECT_EQ(ProbeValue(L"HKCU", key.Subkey(), L"http Address"), r.addressAfter);
  }
}

// Wine ignores MB_TOPMOST (the box never gets WS_EX_TOPMOST), so only what the boxes say is checked.
struct Box {
  std::wstring caption, text;
};

Box ReadBox(HWND box) { return {cmdtest::WindowText(box), vdtest::StaticTexts(box)}; }

TEST(OptionCommand, KeysThatRefuseTheWritesAreReported) {
  struct Row {
    const char* what;
    bool keyExists;
    Action action;
    std::vector<Box> boxes;
  } rows[] = {
      {"read-only key, page shown", true, Action::kShow,
       {{L"Certificates Daemon", L"Set URL Failed!"}, {L"Test Caption", L"Failed to save option!"}}},
      {"read-only key, page hidden", true, Action::kHide, {{L"Test Caption", L"Failed to save option!"}}},
      {"no key yet: the user's is made, page hidden", false, Action::kHide, {}},
      {"read-only key, cancelled", true, Action::kCancel, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ScratchKey key(r.keyExists);
    if (r.keyExists) {
      key.Set(L"PopFlag", {'1'});
      key.MakeReadOnly();
    }
    std::vector<Box> boxes;
    auto closeBox = [&](HWND box) {
      boxes.push_back(ReadBox(box));
      if (boxes.size() == 1) vdtest::SaveWindowPng(box, L"commands_option_failure.png");
      ::SendMessageW(box, WM_COMMAND, IDOK, 0);
    };
    DialogDriver driver({[&](HWND dlg) {
                           if (r.action == Action::kCancel) return Press(dlg, IDCANCEL);
                           Press(dlg, r.action == Action::kShow ? IDC_OPTION_SHOW_HOME : IDC_OPTION_HIDE_HOME);
                           if (r.action == Action::kShow) cmdtest::Type(dlg, IDC_OPTION_ADDRESS, L"https://c.example", true);
                           Press(dlg, IDOK);
                         },
                         closeBox, closeBox, closeBox});
    vd::RunOptionCommand(nullptr, L"Test Caption", Where(key));
    EXPECT_FALSE(DialogDriver::WatchdogFired());
    ASSERT_EQ(boxes.size(), r.boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].caption, r.boxes[i].caption) << i;
      EXPECT_EQ(boxes[i].text, r.boxes[i].text) << i;
    }
    if (r.keyExists) {
      EXPECT_EQ(ProbeValue(L"HKCU", key.Subkey(), L"PopFlag"), Hex({'1'}));
    }
  }
}

TEST(OptionCommand, TokenManagerOpensTheChosenPageAtTheNextInsertion) {
  const wchar_t* kVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";
  SavedValue popFlag(HKEY_CURRENT_USER, vd::kUserSettingsKey, L"PopFlag");
  SavedValue address(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"http Address");
  SavedValue programs(HKEY_LOCAL_MACHINE, kVersionKey, L"ProgramFilesDir");
  vdtest::ScopedSimTokenDir simDir;

  vdtest::TempDir folder(L"progfiles");
  const std::wstring browserDir = folder.path() + L"\\Internet Explorer";
  ASSERT_TRUE(::CreateDirectoryW(browserDir.c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + L"fake_browser.exe").c_str(), (browserDir + L"\\IEXPLORE.EXE").c_str(),
                          FALSE));
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, kVersionKey, L"ProgramFilesDir", folder.path()));
  const std::wstring record = browserDir + L"\\cmdline.txt";
  auto waitForRecord = [&](DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      const auto bytes = vdtest::ReadFileBytes(record);
      if (bytes.empty()) {
        ::Sleep(50);
        continue;
      }
      std::wstring line(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
      std::erase(line, L'"');  // the loader may quote the program's path
      return line;
    }
    return std::wstring();
  };
  auto choose = [](int radio, const wchar_t* typed) {
    DialogDriver driver([=](HWND dlg) {
      Press(dlg, radio);
      if (typed) cmdtest::Type(dlg, IDC_OPTION_ADDRESS, typed, true);
      Press(dlg, IDOK);
    });
    vd::RunOptionCommand(nullptr, L"Certificate Manager");
    EXPECT_FALSE(DialogDriver::WatchdogFired());
  };

  choose(IDC_OPTION_SHOW_HOME, L"https://bank.example/option");
  EXPECT_EQ(ProbeValue(L"HKCU", vd::kUserSettingsKey, L"PopFlag"), Hex({'1'}));
  ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"insert 1").exitCode, 0u);
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), static_cast<CK_RV>(CKR_OK));
  EXPECT_EQ(waitForRecord(15000), browserDir + L"\\IEXPLORE.EXE https://bank.example/option");

  ::DeleteFileW(record.c_str());
  choose(IDC_OPTION_HIDE_HOME, nullptr);
  EXPECT_EQ(ProbeValue(L"HKCU", vd::kUserSettingsKey, L"PopFlag"), Hex({'0'}));
  ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"insert 2").exitCode, 0u);
  manager.OnTokenInserted(2);
  EXPECT_TRUE(manager.HasToken(2));
  EXPECT_EQ(waitForRecord(1500), L"");
  manager.Unload();
}

TEST(OptionCommand, Screenshots) {
  struct Row {
    bool chinese;
    const wchar_t* file;
    const wchar_t* title;
  } rows[] = {{false, L"commands_option_en.png", L"Option"}, {true, L"commands_option_zh.png", L"\x9009\x9879"}};
  for (const Row& r : rows) {
    std::optional<cmdtest::ScopedShippedChinese> language;
    if (r.chinese) language.emplace();
    ScratchKey key;
    key.Set(L"PopFlag", {'1'});
    key.Set(L"http Address", Utf16z(L"https://bank.example/welcome"));
    std::wstring title, showText;
    DialogDriver driver({[](HWND) {},
                         [&](HWND dlg) {
                           title = cmdtest::WindowText(dlg);
                           showText = ItemText(dlg, IDC_OPTION_SHOW_HOME);
                           EXPECT_TRUE(vdtest::SaveWindowPng(dlg, r.file));
                           Press(dlg, IDCANCEL);
                         }});
    vd::RunOptionCommand(nullptr, L"Certificate Manager", Where(key));
    EXPECT_EQ(title, r.title);
    EXPECT_EQ(showText, r.chinese ? L"\x663E\x793A" L"Lumora\x4E3B\x9875" : L"Show Lumora home page");
  }
}

}  // namespace
