// The Set Notifier dialog and the About box, run modally and driven from a timer inside their modal loop
// as the user would drive them: clicks, keystrokes into the edit, OK and Cancel.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <vector>

#include "about_dlg.h"
#include "dialog_driver.h"
#include "common_ids.h"
#include "popup_registry.h"
#include "screenshot.h"
#include "set_notifier_dlg.h"

namespace {

using vdtest::DialogDriver;
using vdtest::ItemText;

// The dialog the driver's last step ran on.
HWND LastDialog() { return DialogDriver::Seen().empty() ? nullptr : DialogDriver::Seen().back(); }

void Type(HWND dlg, int id, const wchar_t* keys, bool replace = true) { vdtest::Type(dlg, id, keys, replace); }

void Press(HWND dlg, int id) { ::SendMessageW(::GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

struct DialogState {
  bool checked = false;
  bool editEnabled = false;
  bool spinEnabled = false;
  std::wstring minutes;
  std::wstring title;
};

DialogState Read(HWND dlg) {
  DialogState s;
  s.checked = ::IsDlgButtonChecked(dlg, IDC_NOTIFIER_ENABLE) == BST_CHECKED;
  s.editEnabled = ::IsWindowEnabled(::GetDlgItem(dlg, IDC_NOTIFIER_MINUTES));
  s.spinEnabled = ::IsWindowEnabled(::GetDlgItem(dlg, IDC_NOTIFIER_SPIN));
  s.minutes = ItemText(dlg, IDC_NOTIFIER_MINUTES);
  wchar_t title[64] = {};
  ::GetWindowTextW(dlg, title, 64);
  s.title = title;
  return s;
}

TEST(SetNotifierDlg, WithoutSettingsOpensOffAndOkStoresOff) {
  popuptest::ScratchKey key;
  DialogState seen;
  DialogDriver driver([&](HWND dlg) {
    seen = Read(dlg);
    EXPECT_EQ(ItemText(dlg, IDC_NOTIFIER_ENABLE), L"Set Notifier");
    EXPECT_EQ(ItemText(dlg, IDC_NOTIFIER_INTERVAL_LABEL), L"Interval of Notifier");
    EXPECT_EQ(ItemText(dlg, IDC_NOTIFIER_MINUTES_LABEL), L"Minutes");
    Press(dlg, IDOK);
  });
  const vd::SetNotifierResult r = vd::RunSetNotifierDlg(nullptr, nullptr, key.Location());
  ASSERT_NE(LastDialog(), nullptr);
  EXPECT_EQ(seen.title, L"Set Notifier");
  EXPECT_FALSE(seen.checked);
  EXPECT_FALSE(seen.editEnabled);
  EXPECT_FALSE(seen.spinEnabled);
  EXPECT_EQ(seen.minutes, L"1");
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.enabledAtOk);
  EXPECT_EQ(r.minutes, 1u);
  EXPECT_EQ(key.Dword(L"isNotifier"), 0u);
  EXPECT_EQ(key.Dword(L"timeSpan"), 10u);
}

TEST(SetNotifierDlg, OpensWithTheStoredSettingsAndCancelKeepsThem) {
  struct Row {
    DWORD isNotifier, timeSpan;
    bool checked;
    const wchar_t* minutes;
  } rows[] = {{1, 0, true, L"1"}, {1, 500, true, L"120"}, {0, 45, false, L"45"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.timeSpan);
    popuptest::ScratchKey key;
    key.SetDword(L"isNotifier", r.isNotifier);
    key.SetDword(L"timeSpan", r.timeSpan);
    DialogState seen;
    DialogDriver driver([&](HWND dlg) {
      seen = Read(dlg);
      Press(dlg, IDCANCEL);
    });
    const vd::SetNotifierResult result = vd::RunSetNotifierDlg(nullptr, nullptr, key.Location());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(seen.checked, r.checked);
    EXPECT_EQ(seen.editEnabled, r.checked);
    EXPECT_EQ(seen.spinEnabled, r.checked);
    EXPECT_EQ(seen.minutes, r.minutes);
    EXPECT_EQ(key.Dword(L"isNotifier"), r.isNotifier);
    EXPECT_EQ(key.Dword(L"timeSpan"), r.timeSpan);
  }
}

TEST(SetNotifierDlg, TypedIntervalIsClampedAsTypedAndStoredAtOk) {
  popuptest::ScratchKey key;
  std::vector<std::wstring> shown;
  DialogState afterUncheck, afterRecheck;
  DialogDriver driver({[&](HWND dlg) {
    Press(dlg, IDC_NOTIFIER_ENABLE);
    Type(dlg, IDC_NOTIFIER_MINUTES, L"0");
    shown.push_back(ItemText(dlg, IDC_NOTIFIER_MINUTES));
    Type(dlg, IDC_NOTIFIER_MINUTES, L"500");
    shown.push_back(ItemText(dlg, IDC_NOTIFIER_MINUTES));
    Type(dlg, IDC_NOTIFIER_MINUTES, L"3", false);  // a fourth character
    shown.push_back(ItemText(dlg, IDC_NOTIFIER_MINUTES));
    Type(dlg, IDC_NOTIFIER_MINUTES, L"-5");
    shown.push_back(ItemText(dlg, IDC_NOTIFIER_MINUTES));
    Type(dlg, IDC_NOTIFIER_MINUTES, L"45");
    shown.push_back(ItemText(dlg, IDC_NOTIFIER_MINUTES));
  }, [&](HWND dlg) {
    EXPECT_TRUE(vdtest::SaveWindowPng(dlg, L"set_notifier_dialog.png"));
  }, [&](HWND dlg) {
    Press(dlg, IDC_NOTIFIER_ENABLE);
    afterUncheck = Read(dlg);
    Press(dlg, IDC_NOTIFIER_ENABLE);
    afterRecheck = Read(dlg);
    // One step up on the arrows.
    ::SendDlgItemMessageW(dlg, IDC_NOTIFIER_SPIN, UDM_SETPOS32, 0, 46);
    ::SendMessageW(dlg, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 46),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dlg, IDC_NOTIFIER_SPIN)));
    Press(dlg, IDOK);
  }});
  const vd::SetNotifierResult r = vd::RunSetNotifierDlg(nullptr, nullptr, key.Location());
  // A lone minus is not a number and shows as 1 at once, so typing "-5" ends as "15".
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"1", L"120", L"120", L"15", L"45"}));
  EXPECT_FALSE(afterUncheck.editEnabled);
  EXPECT_FALSE(afterUncheck.spinEnabled);
  EXPECT_TRUE(afterRecheck.editEnabled);
  EXPECT_EQ(afterRecheck.minutes, L"45");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.enabledAtOk);
  EXPECT_EQ(r.minutes, 46u);
  EXPECT_EQ(key.Dword(L"isNotifier"), 1u);
  EXPECT_EQ(key.Dword(L"timeSpan"), 46u);
}

TEST(SetNotifierDlg, EditTextRules) {
  struct Row {
    const wchar_t* typed;
    unsigned before, after;
  } rows[] = {{L"0", 5, 1},   {L"500", 5, 120}, {L"-5", 5, 120}, {L"abc", 5, 1},  {L"", 5, 1},
              {L"1234", 42, 42}, {L"42", 1, 42}, {L" 7", 1, 7},    {L"12x", 1, 12}, {L"120", 1, 120}};
  for (const Row& r : rows) EXPECT_EQ(vd::MinutesFromEditText(r.typed, r.before), r.after) << r.typed;
}

TEST(AboutDlg, ShowsNameVersionAndIconAndClosesWithEscape) {
  std::wstring title, product, version;
  HICON icon = nullptr;
  DialogDriver driver({[&](HWND dlg) {
    wchar_t buf[128] = {};
    ::GetWindowTextW(dlg, buf, 128);
    title = buf;
    product = ItemText(dlg, IDC_ABOUT_PRODUCT);
    version = ItemText(dlg, IDC_ABOUT_VERSION);
    icon = reinterpret_cast<HICON>(::SendDlgItemMessageW(dlg, IDC_ABOUT_ICON, STM_GETICON, 0, 0));
    EXPECT_FALSE(ItemText(dlg, IDC_ABOUT_INFO1).empty());
    EXPECT_FALSE(ItemText(dlg, IDC_ABOUT_INFO2).empty());
  }, [&](HWND dlg) {
    EXPECT_TRUE(vdtest::SaveWindowPng(dlg, L"about_box.png"));
    ::SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);  // what Escape sends
  }});
  vd::RunAboutDlg(nullptr);
  ASSERT_NE(LastDialog(), nullptr);
  EXPECT_FALSE(::IsWindow(LastDialog()));
  EXPECT_EQ(title, L"About Certificate Manager");
  EXPECT_EQ(product, L"Certificate Manager");
  EXPECT_EQ(version, L"Version 1.0");
  EXPECT_NE(icon, nullptr);
}

}  // namespace
