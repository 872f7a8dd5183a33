// The balloon window: its class, shape, size and place, how long a text stays, and what hides it.
#include <gtest/gtest.h>

#include "balloon_window.h"
#include "screenshot.h"
#include "testsupport.h"

namespace {

using vd::BalloonWindow;

using vdtest::Pump;

SIZE TextSize(HFONT font, const wchar_t* text) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE s{};
  ::GetTextExtentPoint32W(dc, text, lstrlenW(text), &s);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return s;
}

TEST(BalloonWindow, FaceFollowsTheSystemLanguage) {
  struct Row {
    LANGID lang;
    const wchar_t* face;
  } rows[] = {{MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), L"\x5B8B\x4F53"},
              {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), L"Tahoma"},
              {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE), L"Tahoma"},
              {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"Tahoma"},
              {MAKELANGID(LANG_GERMAN, SUBLANG_CHINESE_SIMPLIFIED), L"Tahoma"}};
  for (const Row& r : rows) EXPECT_STREQ(vd::BalloonFaceName(r.lang), r.face) << r.lang;
}

TEST(BalloonWindow, CreatedHiddenWithItsClassAndFonts) {
  BalloonWindow b;
  HWND h = b.Create();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(::IsWindowVisible(h));
  wchar_t cls[128] = {};
  ::GetClassNameW(h, cls, 128);
  EXPECT_STREQ(cls, L"BALLOONF603F33B-2935-431f-A732-3C773895E085");
  EXPECT_TRUE(::GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(::GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  RECT r{};
  ::GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 5);
  EXPECT_EQ(r.bottom - r.top, 5);
  LOGFONTW normal{}, bold{};
  ASSERT_TRUE(::GetObjectW(b.NormalFont(), sizeof normal, &normal));
  ASSERT_TRUE(::GetObjectW(b.BoldFont(), sizeof bold, &bold));
  EXPECT_EQ(normal.lfHeight, -12);
  EXPECT_EQ(normal.lfWeight, FW_NORMAL);
  EXPECT_EQ(bold.lfWeight, FW_BOLD);
  EXPECT_STREQ(normal.lfFaceName, vd::BalloonFaceName(::GetSystemDefaultLangID()));

  b.Destroy();
  EXPECT_FALSE(::IsWindow(h));
  EXPECT_EQ(b.Window(), nullptr);
  // A second window of the process reuses the registered class.
  BalloonWindow again;
  EXPECT_NE(again.Create(), nullptr);
}

TEST(BalloonWindow, SizedToTheTextAboveTheNotificationArea) {
  BalloonWindow b;
  ASSERT_NE(b.Create(), nullptr);
  const int sw = ::GetSystemMetrics(SM_CXSCREEN), sh = ::GetSystemMetrics(SM_CYSCREEN);
  struct Row {
    const wchar_t* text;
    const wchar_t* widest;
    int lines;
  } rows[] = {{L"USBKey is inserted!", L"USBKey is inserted!", 1},
              {L"short\nthe longer second line", L"the longer second line", 2}};
  TEXTMETRICW tm{};
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, b.NormalFont());
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  for (const Row& r : rows) {
    b.ShowBalloon(r.text, 10);
    ASSERT_TRUE(::IsWindowVisible(b.Window()));
    RECT wr{};
    ::GetWindowRect(b.Window(), &wr);
    EXPECT_EQ(wr.right, sw - 70);
    EXPECT_EQ(wr.bottom, sh - 35);
    EXPECT_EQ(wr.right - wr.left, TextSize(b.NormalFont(), r.widest).cx + 30) << r.text;
    // Every line fits: the window is sized to all of them.
    EXPECT_EQ(wr.bottom - wr.top, r.lines * tm.tmHeight + 10) << r.text;

    // The corners are cut by the outline; the middle and the edges' centres stay.
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(b.Window(), rgn), ERROR);
    EXPECT_FALSE(::PtInRegion(rgn, 0, 0));
    EXPECT_FALSE(::PtInRegion(rgn, w - 1, 0));
    EXPECT_FALSE(::PtInRegion(rgn, 0, h - 1));
    EXPECT_FALSE(::PtInRegion(rgn, w - 1, h - 1));
    EXPECT_TRUE(::PtInRegion(rgn, w / 2, h / 2));
    EXPECT_TRUE(::PtInRegion(rgn, 0, h / 2));
    EXPECT_TRUE(::PtInRegion(rgn, w / 2, 0));
    ::DeleteObject(rgn);
  }
  Pump(100);
  EXPECT_TRUE(vdtest::SaveWindowPng(b.Window(), L"balloon_window.png"));
}

TEST(BalloonWindow, LongTextIsCutAndEmptyTextOnlyHides) {
  BalloonWindow b;
  ASSERT_NE(b.Create(), nullptr);
  const std::wstring longText(300, L'x');
  b.ShowBalloon(longText.c_str(), 7);
  EXPECT_EQ(b.Text(), std::wstring(255, L'x'));
  EXPECT_EQ(b.RemainingSeconds(), 7);
  ASSERT_TRUE(::IsWindowVisible(b.Window()));

  b.ShowBalloon(L"", 3);
  EXPECT_FALSE(::IsWindowVisible(b.Window()));
  EXPECT_EQ(b.Text(), std::wstring(255, L'x'));
  EXPECT_EQ(b.RemainingSeconds(), 7);
  b.ShowBalloon(nullptr, 3);
  EXPECT_FALSE(::IsWindowVisible(b.Window()));
  EXPECT_EQ(b.RemainingSeconds(), 7);
}

TEST(BalloonWindow, HidesAfterItsSecondsOrWhenClicked) {
  BalloonWindow b;
  ASSERT_NE(b.Create(), nullptr);
  // Counted in timer ticks: still shown after N ticks, gone at tick N + 1.
  b.ShowBalloon(L"USBKey is inserted!", 10);
  for (int i = 0; i < 10; ++i) ::SendMessageW(b.Window(), WM_TIMER, 1, 0);
  EXPECT_TRUE(::IsWindowVisible(b.Window()));
  ::SendMessageW(b.Window(), WM_TIMER, 1, 0);
  EXPECT_FALSE(::IsWindowVisible(b.Window()));

  // A new text while shown restarts the count.
  b.ShowBalloon(L"first", 2);
  ::SendMessageW(b.Window(), WM_TIMER, 1, 0);
  b.ShowBalloon(L"second", 2);
  EXPECT_EQ(b.RemainingSeconds(), 2);
  EXPECT_EQ(b.Text(), L"second");

  b.ShowBalloon(L"click me", 10);
  ::SendMessageW(b.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_FALSE(::IsWindowVisible(b.Window()));

  // In real time, with the one-second timer that runs from creation: between 2 and 3 seconds.
  b.ShowBalloon(L"USBkey is removed!", 2);
  const ULONGLONG begin = ::GetTickCount64();
  Pump(1900);
  EXPECT_TRUE(::IsWindowVisible(b.Window()));
  while (::IsWindowVisible(b.Window()) && ::GetTickCount64() - begin < 5000) Pump(20);
  const ULONGLONG shown = ::GetTickCount64() - begin;
  EXPECT_GE(shown, 2000u);
  EXPECT_LE(shown, 3800u);  // one second of slack for a loaded machine
}

}  // namespace
