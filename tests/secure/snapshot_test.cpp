// The dimmed picture of the screen and the window that shows it behind the PIN dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "background_window.h"
#include "desktop_snapshot.h"
#include "dialog_script.h"
#include "edit_host.h"
#include "plain_pin_run.h"
#include "scoped_language.h"
#include "screenshot.h"
#include "secret_memory.h"
#include "secure_ids.h"

namespace {

constexpr COLORREF kColour = RGB(200, 120, 40);

// A window of one colour over the whole screen, so that every pixel of a capture is known.
class ColourScreen {
 public:
  ColourScreen() : brush_(::CreateSolidBrush(kColour)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SecureTestColourScreen";
    wc.hbrBackground = brush_;
    ::RegisterClassW(&wc);
    window_ = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, ::GetSystemMetrics(SM_CXSCREEN),
                                ::GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, wc.hInstance, nullptr);
    ::UpdateWindow(window_);
    sectest::Pump(300);
  }
  ~ColourScreen() {
    ::DestroyWindow(window_);
    ::UnregisterClassW(L"SecureTestColourScreen", ::GetModuleHandleW(nullptr));
    ::DeleteObject(brush_);
  }

 private:
  HBRUSH brush_;
  HWND window_ = nullptr;
};

// The bitmap's pixels as 24-bit BGR rows, bottom-up.
std::vector<uint8_t> Pixels(HBITMAP bitmap, int cx, int cy) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = cx;
  bi.bmiHeader.biHeight = cy;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  const int stride = (cx * 3 + 3) & ~3;
  std::vector<uint8_t> data(static_cast<size_t>(stride) * cy);
  HDC screen = ::GetDC(nullptr);
  ::GetDIBits(screen, bitmap, 0, cy, data.data(), &bi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  return data;
}

void ExpectHalf(const uint8_t* bgr) {
  EXPECT_NEAR(bgr[2], GetRValue(kColour) / 2, 2);
  EXPECT_NEAR(bgr[1], GetGValue(kColour) / 2, 2);
  EXPECT_NEAR(bgr[0], GetBValue(kColour) / 2, 2);
}

TEST(SecureScreen, SnapshotIsTheScreenAtHalfBrightness) {
  ColourScreen colour;
  vd::DesktopSnapshot snapshot;
  ASSERT_TRUE(snapshot.Capture());
  const SIZE s = snapshot.Size();
  EXPECT_EQ(s.cx, ::GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(s.cy, ::GetSystemMetrics(SM_CYSCREEN));
  std::vector<uint8_t> px = Pixels(snapshot.Bitmap(), s.cx, s.cy);
  const int stride = (s.cx * 3 + 3) & ~3;
  for (POINT p : {POINT{0, 0}, POINT{s.cx / 2, s.cy / 2}, POINT{s.cx - 1, s.cy - 1}, POINT{17, s.cy - 5}}) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    ExpectHalf(&px[static_cast<size_t>(p.y) * stride + static_cast<size_t>(p.x) * 3]);
  }
  // A second capture replaces the first.
  HBITMAP first = snapshot.Bitmap();
  ASSERT_TRUE(snapshot.Capture());
  EXPECT_NE(snapshot.Bitmap(), nullptr);
  (void)first;
}

TEST(SecureScreen, BackgroundShowsTheDimmedPictureOverTheWholeScreen) {
  vd::DesktopSnapshot snapshot;
  {
    ColourScreen colour;
    ASSERT_TRUE(snapshot.Capture());
  }
  vd::BackgroundWindow background(snapshot.Bitmap(), false);
  HWND w = background.CreateModeless(::GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(w);
  sectest::Pump(300);
  RECT r{};
  ::GetWindowRect(w, &r);
  EXPECT_EQ(r.right - r.left, ::GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(r.bottom - r.top, ::GetSystemMetrics(SM_CYSCREEN));
  EXPECT_FALSE(::GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
  HDC screen = ::GetDC(nullptr);
  for (POINT p : {POINT{5, 5}, POINT{r.right / 2, r.bottom / 3}, POINT{r.right - 3, r.bottom - 3}}) {
    COLORREF c = ::GetPixel(screen, p.x, p.y);
    const uint8_t bgr[3] = {GetBValue(c), GetGValue(c), GetRValue(c)};
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    ExpectHalf(bgr);
  }
  ::ReleaseDC(nullptr, screen);
  ::DestroyWindow(w);
}

// For a person to look at: the plain dialog over a dimmed screen that had something on it.
TEST(SecureScreen, PlainDialogOverTheDimmedScreenShot) {
  vdtest::ScopedLanguage english(L"");
  sectest::EditHost someWindow;
  ::SetWindowPos(someWindow.window(), nullptr, 40, 40, 500, 300, SWP_NOZORDER);
  ::SetWindowTextW(someWindow.window(), L"A window of another program");
  sectest::Pump(200);
  bool shot = false;
  sectest::DialogScript script([&](HWND d) {
    sectest::Settle(300);
    shot = vdtest::SaveScreenPng(L"pin_dialog_plain_on_dimmed_screen.png");
    ::PostMessageW(d, WM_CLOSE, 0, 0);
  });
  std::wstring o, n;
  vd::PrepareSecret(o);
  vd::PrepareSecret(n);
  vd::RunPlainPinDialog(false, 6, 12, o, n, &script.Watch());
  script.Join();
  EXPECT_TRUE(shot);
}

}  // namespace
