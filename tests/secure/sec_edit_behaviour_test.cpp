// What a secure edit refuses, how its hooks come and go with the focus, and that other programs' hooks do
// not see the keys it takes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "edit_host.h"
#include "key_input.h"
#include "key_spy.h"

namespace {

using sectest::EditHost;

void TypeByKeyboard(vd::CSecEdit& edit, const wchar_t* s) {
  for (const wchar_t* p = s; *p; ++p) edit.InsertCharacter(*p);
}

bool MenuShown() {
  for (HWND w = ::FindWindowW(L"#32768", nullptr); w; w = ::FindWindowExW(nullptr, w, L"#32768", nullptr))
    if (::IsWindowVisible(w)) return true;
  return false;
}

TEST(SecureEditBehaviour, RefusedMessagesLeaveContentAndAsterisks) {
  struct Row {
    const char* name;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    LRESULT expected;
  };
  const Row rows[] = {
      {"EM_UNDO", EM_UNDO, 0, 0, 1},
      {"WM_UNDO", WM_UNDO, 0, 0, 1},
      {"WM_PASTE", WM_PASTE, 0, 0, 1},
      {"0x0507", 0x0507, 0, 0, 1},
      {"EM_CANUNDO", EM_CANUNDO, 0, 0, 0},
      {"WM_CUT", WM_CUT, 0, 0, 0},
      {"WM_CLEAR", WM_CLEAR, 0, 0, 0},
      {"WM_SYSCHAR", WM_SYSCHAR, 'x', 1, 0},
      {"WM_SYSKEYDOWN", WM_SYSKEYDOWN, VK_BACK, 1, 0},
      {"right button down", WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5), 0},
      {"right button up", WM_RBUTTONUP, 0, MAKELPARAM(5, 5), 0},
      {"context menu", WM_CONTEXTMENU, 0, MAKELPARAM(150, 120), 0},
      {"a symbol typed", WM_CHAR, '#', 1, 0},
      {"a character above ASCII typed", WM_CHAR, 0xE9, 1, 0},
      {"Ctrl+V as a character", WM_CHAR, 22, 1, 0},
      {"Ctrl+V without a key", WM_CHAR, 22, 0, 0},
  };
  EditHost host;
  ASSERT_TRUE(host.Focus(0));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    host.secure(0).Clear();
    TypeByKeyboard(host.secure(0), L"ab");
    ::SendMessageW(host.edit(0), EM_SETSEL, 0, -1);  // everything selected: the worst case for a change
    ::OpenClipboard(nullptr);
    ::EmptyClipboard();
    ::CloseClipboard();
    EXPECT_EQ(::SendMessageW(host.edit(0), r.msg, r.wp, r.lp), r.expected);
    sectest::Pump(30);
    EXPECT_FALSE(MenuShown());
    EXPECT_EQ(host.Content(0), L"ab");
    EXPECT_EQ(host.ShownText(0), L"**");
  }
}

TEST(SecureEditBehaviour, InsertTakesLettersAndDigitsAndTellsTheParent) {
  struct Row {
    wchar_t ch;
    bool taken;
  };
  const Row rows[] = {{L'a', true}, {L'Z', true}, {L'0', true}, {L'9', true}, {L'#', false},
                      {L' ', false}, {L'-', false}, {L'~', false}, {0xE9, false}, {L'\b', false}};
  EditHost host;
  ASSERT_TRUE(host.Focus(0));
  std::wstring expected;
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.ch));
    host.ResetNotifications();
    EXPECT_EQ(host.secure(0).InsertCharacter(r.ch), r.taken);
    if (r.taken) expected += r.ch;
    sectest::Pump(20);
    EXPECT_EQ(host.Notifications(), r.taken ? 1 : 0);
    EXPECT_EQ(host.Content(0), expected);
    EXPECT_EQ(host.secure(0).Length(), static_cast<int>(expected.size()));
  }
  host.ResetNotifications();
  host.secure(0).Clear();
  sectest::Pump(20);
  EXPECT_EQ(host.Content(0), L"");
  EXPECT_EQ(host.ShownText(0), L"");
  EXPECT_EQ(host.Notifications(), 1);
}

TEST(SecureEditBehaviour, ThreeHooksLiveExactlyWhileTheEditHasTheFocus) {
  EditHost host;
  EXPECT_EQ(host.secure(0).InstalledHooks(), 0);
  ASSERT_TRUE(host.Focus(0));
  // The refreshers fill the other two slots within a few ticks.
  EXPECT_TRUE(sectest::PumpUntil([&] { return host.secure(0).InstalledHooks() == 3; }, 2000));
  EXPECT_EQ(vd::CSecEdit::Current(), &host.secure(0));
  ASSERT_TRUE(host.Focus(1));
  EXPECT_EQ(host.secure(0).InstalledHooks(), 0);
  EXPECT_TRUE(sectest::PumpUntil([&] { return host.secure(1).InstalledHooks() == 3; }, 2000));
  EXPECT_EQ(vd::CSecEdit::Current(), &host.secure(1));
  ::SetFocus(host.window());
  sectest::Pump(30);
  EXPECT_EQ(host.secure(1).InstalledHooks(), 0);
  EXPECT_EQ(vd::CSecEdit::Current(), nullptr);
}

TEST(SecureEditBehaviour, OtherHooksSeeNoPrintableKeyWhileTheEditHasTheFocus) {
  sectest::KeySpy spy;
  ASSERT_TRUE(spy.Installed());
  EditHost host;
  ASSERT_TRUE(host.Focus(0));
  sectest::Pump(100);  // all three hooks in place, each newer than the spy's
  sectest::WhilePumping([] {
    sectest::SendKeys(sectest::Tap('A') + sectest::Tap('7') + sectest::Chord({VK_SHIFT}, '3') + sectest::Tap(VK_LEFT));
  });
  EXPECT_EQ(host.Content(0), L"a7");
  EXPECT_FALSE(spy.Saw('A'));
  EXPECT_FALSE(spy.Saw('7'));
  EXPECT_FALSE(spy.Saw('3'));
  EXPECT_TRUE(spy.Saw(VK_LEFT)) << "control keys go on to other hooks";
  EXPECT_TRUE(spy.Saw(VK_SHIFT));

  // Win+L is never taken: the system must see it to lock the workstation.
  spy.Forget();
  sectest::WhilePumping([] { sectest::SendKeys(sectest::Chord({VK_LWIN}, 'L')); });
  EXPECT_TRUE(spy.Saw('L'));
  // Windows locks the session here; Wine hands the key on to the edit, which may take it as a letter.
  // Either way what the edit shows and what it holds stay in step.
  const std::wstring afterWinL = host.Content(0);
  EXPECT_EQ(host.ShownText(0).size(), afterWinL.size());

  // Without the focus the keys are everybody's again.
  ::SetFocus(host.window());
  sectest::Pump(30);
  spy.Forget();
  sectest::WhilePumping([] { sectest::SendKeys(sectest::Tap('B')); });
  EXPECT_TRUE(spy.Saw('B'));
  EXPECT_EQ(host.Content(0), afterWinL);
}

TEST(SecureEditBehaviour, AnInvisibleEditTakesNothing) {
  EditHost host(12, /*visibleSecond=*/false);
  ::SetForegroundWindow(host.window());
  ::SetFocus(host.edit(1));
  sectest::Pump(30);
  EXPECT_FALSE(host.secure(1).IsActive());
  EXPECT_EQ(host.secure(1).InstalledHooks(), 0);
  EXPECT_FALSE(host.secure(1).InsertCharacter(L'a'));
  EXPECT_EQ(::SendMessageW(host.edit(1), WM_CHAR, 'b', 1), 1);
  EXPECT_EQ(::SendMessageW(host.edit(1), WM_KEYDOWN, VK_BACK, 1), 1);
  sectest::WhilePumping([] { sectest::SendKeys(sectest::Tap('C')); });
  EXPECT_EQ(host.Content(1), L"");
  EXPECT_EQ(host.ShownText(1), L"");
}

// A letter that reaches the control as a message (no hook yet) is stored, but the control shows and
// holds only an asterisk.
TEST(SecureEditBehaviour, LettersReachingTheControlAreStoredAsAsterisks) {
  EditHost host;
  ASSERT_TRUE(host.Focus(0));
  for (wchar_t c : std::wstring(L"k9")) ::SendMessageW(host.edit(0), WM_CHAR, c, 1);
  EXPECT_EQ(host.Content(0), L"k9");
  EXPECT_EQ(host.ShownText(0), L"**");
}

}  // namespace
