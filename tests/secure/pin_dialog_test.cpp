// The change-PIN dialog on the user's desktop (the plain path): its label and limits, when OK may be
// pressed, each rule's message, the soft keyboard, and every way it ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "dialog_script.h"
#include "plain_pin_run.h"
#include "scoped_language.h"
#include "screenshot.h"
#include "secret_memory.h"
#include "secure_ids.h"
#include "soft_keyboard_layout.h"
#include "testsupport.h"
#include "text.h"
#include "token_dialogs.h"

namespace {

using namespace sectest;

struct PlainRun {
  INT_PTR result = -2;
  std::wstring oldPin, newPin;
};

PlainRun RunPlain(DialogScript& script, CK_ULONG minimum = 6, CK_ULONG maximum = 12, bool forced = false) {
  PlainRun r;
  vd::PrepareSecret(r.oldPin);
  vd::PrepareSecret(r.newPin);
  r.result = vd::RunPlainPinDialog(forced, minimum, maximum, r.oldPin, r.newPin, &script.Watch());
  script.Join();
  return r;
}

class PinDialogTest : public ::testing::Test {
 protected:
  vdtest::ScopedLanguage english_{L""};
};

TEST_F(PinDialogTest, LabelAndLimitsFromTheTokensLengths) {
  struct Row {
    CK_ULONG minimum, maximum;
    const wchar_t* label;
    int limit;
  };
  const Row rows[] = {{6, 12, L"New PIN(6 to 12 characters):", 12}, {8, 8, L"New PIN(8 to 8 characters):", 9},
                      {4, 16, L"New PIN(4 to 16 characters):", 16}};
  for (const Row& row : rows) {
    SCOPED_TRACE(vd::WideToUtf8(row.label));
    std::wstring label, advice, title;
    int limits[3] = {};
    bool cancelEnabled = false;
    DialogScript script([&](HWND d) {
      label = TextOf(::GetDlgItem(d, IDC_NEW_PIN_LABEL));
      advice = TextOf(::GetDlgItem(d, IDC_PIN_ADVICE));
      title = TextOf(d);
      int i = 0;
      for (int id : {IDC_OLD_PIN, IDC_NEW_PIN, IDC_CONFIRM_PIN})
        limits[i++] = static_cast<int>(::SendDlgItemMessageW(d, id, EM_GETLIMITTEXT, 0, 0));
      cancelEnabled = Enabled(d, IDCANCEL);
      Click(d, IDCANCEL);
    });
    PlainRun r = RunPlain(script, row.minimum, row.maximum);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(label, row.label);
    EXPECT_EQ(title, L"Change User PIN");
    EXPECT_EQ(advice.rfind(L"For ensuring that the USBKey safety", 0), 0u) << vd::WideToUtf8(advice);
    for (int l : limits) EXPECT_EQ(l, row.limit);
    EXPECT_TRUE(cancelEnabled);
    EXPECT_EQ(script.Opened(), 1);
    EXPECT_EQ(script.Closed(), 1);
    EXPECT_EQ(script.OpenedOnThread(), ::GetCurrentThreadId());
    EXPECT_EQ(script.DialogThread(), ::GetCurrentThreadId()) << "the plain dialog runs on the caller's thread";
  }
}

TEST_F(PinDialogTest, OkEnabledOnlyWithEveryMinimumAndMatchingLengths) {
  struct Step {
    int id;
    const wchar_t* typed;  // appended; "\b" is a backspace
    bool ok;
  };
  const Step steps[] = {
      {IDC_OLD_PIN, L"abc12", false},      {IDC_OLD_PIN, L"3", false},       {IDC_NEW_PIN, L"xyz78", false},
      {IDC_NEW_PIN, L"9", false},          {IDC_CONFIRM_PIN, L"xyz78", false}, {IDC_CONFIRM_PIN, L"9", true},
      {IDC_CONFIRM_PIN, L"0", false},      {IDC_CONFIRM_PIN, L"\b", true},   {IDC_OLD_PIN, L"\b", false},
  };
  std::vector<bool> seen;
  bool initially = true;
  DialogScript script([&](HWND d) {
    Settle();
    initially = Enabled(d, IDOK);
    for (const Step& s : steps) {
      Type(d, s.id, s.typed);
      Settle();
      seen.push_back(Enabled(d, IDOK));
    }
    Click(d, IDCANCEL);
  });
  RunPlain(script);
  EXPECT_FALSE(initially);
  ASSERT_EQ(seen.size(), std::size(steps));
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], steps[i].ok) << "step " << i;
}

TEST_F(PinDialogTest, EachRuleShowsItsMessageEmptiesTheNewPinsAndKeepsTheOld) {
  struct Row {
    const char* shot;
    const wchar_t* newPin;
    const wchar_t* confirmation;
    const wchar_t* message;
  };
  const Row rows[] = {
      {"pin_message_mismatch.png", L"abc123", L"abc124", L"The new and confirm password do not match, please try again."},
      {"pin_message_case.png", L"abcdef", L"abcdeF", L"The new and confirm password do not match, please try again."},
      {"pin_message_default.png", L"246802", L"246802", L"Please do NOT use the default PIN as new PIN!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shot);
    std::wstring message, caption;
    int oldLen = -1, newLen = -1, confirmLen = -1;
    bool focusOnNew = false, stillOpen = false;
    DialogScript script([&](HWND d) {
      Type(d, IDC_OLD_PIN, L"old123");
      Type(d, IDC_NEW_PIN, row.newPin);
      Type(d, IDC_CONFIRM_PIN, row.confirmation);
      Settle();
      Click(d, IDOK);
      HWND box = WaitForMessageBox(d);
      if (!box) return;
      Settle(150);
      vdtest::SaveScreenPng(vd::Utf8ToWide(row.shot));
      message = vdtest::StaticTexts(box);
      caption = TextOf(box);
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      WaitGone(box);
      Settle();
      oldLen = Length(d, IDC_OLD_PIN);
      newLen = Length(d, IDC_NEW_PIN);
      confirmLen = Length(d, IDC_CONFIRM_PIN);
      focusOnNew = FocusOf(d) == ::GetDlgItem(d, IDC_NEW_PIN);
      stillOpen = ::IsWindow(d) && !Enabled(d, IDOK);
      // The old PIN was kept: a fitting new PIN now completes the change with it.
      Type(d, IDC_NEW_PIN, L"good99");
      Type(d, IDC_CONFIRM_PIN, L"good99");
      Settle();
      Click(d, IDOK);
    });
    PlainRun r = RunPlain(script);
    EXPECT_EQ(message, row.message);
    EXPECT_EQ(caption, L"Change User PIN");
    EXPECT_EQ(oldLen, 6);
    EXPECT_EQ(newLen, 0);
    EXPECT_EQ(confirmLen, 0);
    EXPECT_TRUE(focusOnNew);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.oldPin, L"old123");
    EXPECT_EQ(r.newPin, L"good99");
  }
}

TEST_F(PinDialogTest, WaysToEnd) {
  struct Row {
    const char* name;
    void (*end)(HWND);
    INT_PTR result;
  };
  const Row rows[] = {
      {"Cancel", [](HWND d) { Click(d, IDCANCEL); }, 2},
      {"Escape", [](HWND d) { ::PostMessageW(::GetDlgItem(d, IDC_OLD_PIN), WM_KEYDOWN, VK_ESCAPE, 1); }, 2},
      {"WM_CLOSE, as the keyboard guard sends it", [](HWND d) { ::PostMessageW(d, WM_CLOSE, 0, 0); }, 2},
      {"the token pulled", [](HWND d) { ::PostMessageW(d, vd::kTokenRemovedMessage, 0, 0); }, vd::kTokenRemovedResult},
      {"OK while disabled does nothing, then Cancel",
       [](HWND d) {
         Click(d, IDOK);
         Settle();
         Click(d, IDCANCEL);
       },
       2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DialogScript script([&](HWND d) {
      Type(d, IDC_OLD_PIN, L"abc123");
      Settle();
      row.end(d);
    });
    PlainRun r = RunPlain(script);
    EXPECT_EQ(r.result, row.result);
    EXPECT_TRUE(r.oldPin.empty());
    EXPECT_TRUE(r.newPin.empty());
    EXPECT_EQ(script.Closed(), 1);
  }
}

TEST_F(PinDialogTest, ForcedChangeHasNoCancelButton) {
  bool cancelEnabled = true;
  DialogScript script([&](HWND d) {
    cancelEnabled = Enabled(d, IDCANCEL);
    vdtest::SaveScreenPng(L"pin_dialog_plain_forced.png");
    ::PostMessageW(d, WM_CLOSE, 0, 0);
  });
  PlainRun r = RunPlain(script, 6, 12, /*forced=*/true);
  EXPECT_FALSE(cancelEnabled);
  EXPECT_EQ(r.result, 2);
}

// Where a key of the default layout lies in the dialog's keyboard strip.
POINT KeyCentre(HWND d, uint8_t normal, uint8_t special = 0) {
  RECT client;
  ::GetClientRect(d, &client);
  const SIZE size = vd::SoftKeyboardSizeOfDisplay();
  RECT area{0, client.bottom - size.cy, client.right, client.bottom};
  const auto& keys = vd::DefaultSoftLayout();
  for (const vd::PlacedKey& p : vd::PlaceKeys(keys, vd::MeasureKeyboard(keys, area))) {
    const vd::SoftKey& k = keys[p.index];
    if ((special && k.IsSpecial() && k.shifted == special) || (!special && !k.IsSpecial() && k.normal == normal))
      return POINT{(p.rect.left + p.rect.right) / 2, (p.rect.top + p.rect.bottom) / 2};
  }
  return POINT{-1, -1};
}

void ClickKey(HWND d, POINT p) {
  ::PostMessageW(d, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  ::PostMessageW(d, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  Settle(120);  // the key is shown pressed for 50 ms
}

TEST_F(PinDialogTest, SoftKeyboardTypesIntoTheActiveEdit) {
  RECT without{}, with{}, after{};
  int lengthAfterBackspace = -1;
  DialogScript script([&](HWND d) {
    Settle();
    ::GetWindowRect(d, &without);
    vdtest::SaveScreenPng(L"pin_dialog_plain.png");
    Click(d, IDC_SOFT_KEYBOARD);
    Settle(200);
    ::GetWindowRect(d, &with);
    vdtest::SaveScreenPng(L"pin_dialog_plain_soft_keyboard.png");
    // Old PIN: letters by position, one removed by the keyboard's Backspace, a capital through Shift,
    // then the ten digit keys wherever the shuffle put them.
    for (uint8_t c : {'q', 'w', 'e'}) ClickKey(d, KeyCentre(d, c));
    ClickKey(d, KeyCentre(d, 0, vd::kKeyBackspace));
    lengthAfterBackspace = Length(d, IDC_OLD_PIN);
    ClickKey(d, KeyCentre(d, 0, vd::kKeyShift));
    ClickKey(d, KeyCentre(d, 'r'));
    ClickKey(d, KeyCentre(d, 0, vd::kKeyShift));
    for (uint8_t c : {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'}) ClickKey(d, KeyCentre(d, c));
    // Symbols reach the edit as nothing.
    ClickKey(d, KeyCentre(d, '-'));
    ClickKey(d, KeyCentre(d, ' '));
    Type(d, IDC_NEW_PIN, L"abc123");
    Type(d, IDC_CONFIRM_PIN, L"abc123");
    Click(d, IDC_SOFT_KEYBOARD);
    Settle(200);
    ::GetWindowRect(d, &after);
    Settle();
    Click(d, IDOK);
  });
  PlainRun r = RunPlain(script, 6, 16);
  const SIZE keyboard = vd::SoftKeyboardSizeOfDisplay();
  EXPECT_EQ(with.bottom - with.top, without.bottom - without.top + keyboard.cy);
  EXPECT_EQ(with.right - with.left, std::max<LONG>(keyboard.cx, without.right - without.left));
  EXPECT_EQ(after.bottom - after.top, without.bottom - without.top);
  EXPECT_EQ(lengthAfterBackspace, 2);
  ASSERT_EQ(r.result, 1);
  ASSERT_EQ(r.oldPin.size(), 13u) << vd::WideToUtf8(r.oldPin);
  EXPECT_EQ(r.oldPin.substr(0, 3), L"qwR");
  std::wstring digits = r.oldPin.substr(3);
  std::sort(digits.begin(), digits.end());
  EXPECT_EQ(digits, L"0123456789") << "each digit key typed its own digit once";
  EXPECT_EQ(r.newPin, L"abc123");
}

}  // namespace
