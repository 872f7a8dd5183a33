// Typing into a secure edit as a user would, through SendInput and through xdotool: what the hidden
// content holds, what the control shows, and what it refuses.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "edit_host.h"
#include "key_input.h"

namespace {

using sectest::Chord;
using sectest::EditHost;
using sectest::KeyEvent;
using sectest::Tap;

std::vector<KeyEvent> Letters(const char* s) {
  std::vector<KeyEvent> keys;
  for (const char* p = s; *p; ++p) keys = keys + Tap(static_cast<WORD>(*p >= 'a' ? *p - 32 : *p));
  return keys;
}

struct TypingCase {
  const char* name;
  int limit;
  std::vector<KeyEvent> keys;
  std::wstring content;
};

std::vector<TypingCase> TypingCases() {
  const std::vector<KeyEvent> twoLeft = Tap(VK_LEFT) + Tap(VK_LEFT);
  return {
      {"letters, digits and Shift", 12, Letters("a1") + Chord({VK_SHIFT}, 'B'), L"a1B"},
      {"Caps Lock gives capitals, Shift under it small letters", 12,
       Tap(VK_CAPITAL) + Letters("cd") + Chord({VK_SHIFT}, 'E') + Tap(VK_CAPITAL), L"CDe"},
      {"symbols and space are refused", 12,
       Letters("a") + Chord({VK_SHIFT}, '3') + Tap(VK_OEM_MINUS) + Tap(VK_SPACE) + Chord({VK_SHIFT}, '1') +
           Letters("b"),
       L"ab"},
      {"Backspace removes the character before the caret", 12, Letters("abcd") + twoLeft + Tap(VK_BACK), L"acd"},
      {"Delete removes the character after the caret", 12, Letters("abcd") + twoLeft + Tap(VK_DELETE), L"abd"},
      {"Backspace and Delete at the start and the end change nothing", 12,
       Letters("ab") + Tap(VK_DELETE) + Tap(VK_HOME) + Tap(VK_BACK), L"ab"},
      {"a selection is replaced by the typed letter", 12,
       Letters("abcd") + Tap(VK_HOME) + Tap(VK_RIGHT) + Chord({VK_SHIFT}, VK_RIGHT) + Chord({VK_SHIFT}, VK_RIGHT) +
           Letters("x"),
       L"axd"},
      {"a selection is removed by Backspace", 12,
       Letters("abcd") + Tap(VK_HOME) + Chord({VK_SHIFT}, VK_RIGHT) + Chord({VK_SHIFT}, VK_RIGHT) + Tap(VK_BACK),
       L"cd"},
      {"the limit is kept", 4, Letters("abcdef"), L"abcd"},
      {"at the limit a selection may still be replaced", 4,
       Letters("abcd") + Chord({VK_SHIFT}, VK_LEFT) + Letters("z"), L"abcz"},
      {"Ctrl+V, Ctrl+Z and Shift+Insert change nothing", 12,
       Letters("ab") + Chord({VK_CONTROL}, 'V') + Chord({VK_CONTROL}, 'Z') + Chord({VK_SHIFT}, VK_INSERT), L"ab"},
  };
}

void PutOnClipboard(const wchar_t* text) {
  if (!::OpenClipboard(nullptr)) return;
  ::EmptyClipboard();
  size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  HGLOBAL mem = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(::GlobalLock(mem), text, bytes);
  ::GlobalUnlock(mem);
  ::SetClipboardData(CF_UNICODETEXT, mem);
  ::CloseClipboard();
}

TEST(SecureEditInput, TypingThroughSendInput) {
  PutOnClipboard(L"pasted");
  for (const TypingCase& c : TypingCases()) {
    SCOPED_TRACE(c.name);
    EditHost host(c.limit);
    ASSERT_TRUE(host.Focus(0));
    sectest::WhilePumping([&] { EXPECT_TRUE(sectest::SendKeys(c.keys)); });
    EXPECT_EQ(host.Content(0), c.content);
    EXPECT_EQ(host.ShownText(0), std::wstring(c.content.size(), L'*'));
  }
}

struct XdoCase {
  const char* name;
  const char* keys;  // xdotool key names
  std::wstring content;
};

TEST(SecureEditInput, TypingThroughXdotool) {
  const XdoCase cases[] = {
      {"letters, digits and Shift", "a 1 shift+b", L"a1B"},
      {"Caps Lock", "Caps_Lock c Caps_Lock d", L"Cd"},
      {"symbols refused", "a numbersign minus space exclam b", L"ab"},
      {"Backspace and Delete at the caret", "a b c d Left Left BackSpace Delete", L"ad"},
      {"Ctrl+V refused", "a ctrl+v", L"a"},
  };
  PutOnClipboard(L"pasted");
  for (const XdoCase& c : cases) {
    SCOPED_TRACE(c.name);
    EditHost host;
    ASSERT_TRUE(host.Focus(0));
    const unsigned long xid = sectest::X11WindowOf(host.window());
    ASSERT_NE(xid, 0u) << "no X window for the host";
    bool ok = false;
    sectest::WhilePumping([&] {
      ok = sectest::Xdotool("windowfocus --sync " + std::to_string(xid) + " key --delay 30 " + c.keys);
    });
    ASSERT_TRUE(ok) << "xdotool failed";
    sectest::PumpUntil([&] { return host.Content(0) == c.content; }, 2000);
    EXPECT_EQ(host.Content(0), c.content);
    EXPECT_EQ(host.ShownText(0), std::wstring(c.content.size(), L'*'));
  }
}

}  // namespace
