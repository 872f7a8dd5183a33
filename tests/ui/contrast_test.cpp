// The windows that draw themselves paint in the system's colours while high contrast is on: the balloon
// and the usage popup in the tooltip colours, the PIN dialog's background in the desktop colour. Wine
// cannot switch high contrast on, so the test answers for the system.
#include <windows.h>

#include <functional>

#include "background_window.h"
#include "balloon_window.h"
#include "common_ids.h"
#include "dpi.h"
#include "screenshot.h"
#include "taskbar_notifier.h"
#include "testsupport.h"
#include "text.h"

namespace {

// Sets system colours no window uses otherwise and answers "high contrast on"; puts both back.
class ScopedContrast {
 public:
  ScopedContrast() {
    for (int i = 0; i < kCount; ++i) old_[i] = ::GetSysColor(kIndices[i]);
    ::SetSysColors(kCount, kIndices, kColours);
    vd::OverrideHighContrastForTesting(1);
  }
  ~ScopedContrast() {
    vd::OverrideHighContrastForTesting(-1);
    ::SetSysColors(kCount, kIndices, old_);
  }
  ScopedContrast(const ScopedContrast&) = delete;
  ScopedContrast& operator=(const ScopedContrast&) = delete;

 private:
  static constexpr int kCount = 3;
  static constexpr int kIndices[kCount] = {COLOR_INFOBK, COLOR_INFOTEXT, COLOR_DESKTOP};
  static constexpr COLORREF kColours[kCount] = {RGB(0, 0, 96), RGB(255, 255, 0), RGB(0, 96, 0)};
  COLORREF old_[kCount] = {};
};

COLORREF ScreenPixel(HWND hwnd, POINT at) {
  ::ClientToScreen(hwnd, &at);
  HDC screen = ::GetDC(nullptr);
  const COLORREF c = ::GetPixel(screen, at.x, at.y);
  ::ReleaseDC(nullptr, screen);
  return c;
}

struct Sample {
  const char* what;
  POINT at;  // in the window's client area; negative counts from the right or bottom edge
  int colour;
};

TEST(HighContrast, SelfDrawnWindowsPaintInTheSystemColours) {
  ScopedContrast contrast;
  vd::BalloonWindow balloon;
  ASSERT_TRUE(balloon.Create());
  vd::CTaskbarNotifier notifier;
  ASSERT_TRUE(notifier.Create(nullptr));
  ASSERT_TRUE(notifier.SetSkin(IDB_NOTIFIER_SKIN, 255, 0, 255));
  HDC screen = ::GetDC(nullptr);
  HBITMAP snapshot = ::CreateCompatibleBitmap(screen, 8, 8);
  ::ReleaseDC(nullptr, screen);
  vd::BackgroundWindow background(snapshot, false);
  HWND backgroundWindow = nullptr;
  struct Row {
    const char* window;
    std::function<HWND()> show;
    std::vector<Sample> samples;
  } rows[] = {
      {"balloon",
       [&] {
         balloon.ShowBalloon(L"USBKey is inserted!", 10);
         return balloon.Window();
       },
       {{"background below the text", {-40, -3}, COLOR_INFOBK}, {"frame", {20, 0}, COLOR_INFOTEXT}}},
      {"usage popup",
       [&] {
         notifier.Show(L"", 0, 5000, 0);
         return notifier.Window();
       },
       {{"background", {20, 20}, COLOR_INFOBK}, {"frame", {20, 0}, COLOR_INFOTEXT}}},
      {"PIN dialog background",
       [&] { return backgroundWindow = background.CreateModeless(::GetModuleHandleW(nullptr), nullptr); },
       {{"background", {50, 50}, COLOR_DESKTOP}}},
  };
  for (const Row& row : rows) {
    HWND w = row.show();
    ASSERT_TRUE(w) << row.window;
    ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client{};
    ::GetClientRect(w, &client);
    for (const Sample& s : row.samples) {
      const POINT at{s.at.x < 0 ? client.right + s.at.x : s.at.x, s.at.y < 0 ? client.bottom + s.at.y : s.at.y};
      const COLORREF want = ::GetSysColor(s.colour);
      COLORREF got = 0;
      EXPECT_TRUE(vdtest::PumpUntil([&] { return (got = ScreenPixel(w, at)) == want; }, 3000))
          << row.window << ", " << s.what << ": pixel " << std::hex << got << ", the system colour " << want;
    }
    vdtest::SaveWindowPng(w, L"high_contrast_" + vd::Utf8ToWide(row.window) + L".png");
    ::ShowWindow(w, SW_HIDE);  // out of the way of the next row's window
  }
  ::DestroyWindow(backgroundWindow);
  ::DeleteObject(snapshot);
}

}  // namespace
