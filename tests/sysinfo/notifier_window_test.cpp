// The notifier window driven by its own timer messages: the slide on each taskbar edge, Show in every
// state, the skin's shape and fonts, the click notification, and a real-time showing with a screenshot.
#include <gtest/gtest.h>

#include <vector>

#include "common_ids.h"
#include "screenshot.h"
#include "taskbar_notifier.h"

namespace {

using vd::CTaskbarNotifier;
using vd::TaskbarEdge;

constexpr COLORREF kMagenta = RGB(255, 0, 255);

// A top-down 24-bit skin filled with `fill`, with the listed pixels in `spot`.
HBITMAP MakeSkin(int w, int h, COLORREF fill, const std::vector<POINT>& spots = {}, COLORREF spot = kMagenta) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  const int stride = ((w * 3) + 3) & ~3;
  auto put = [&](int x, int y, COLORREF c) {
    BYTE* p = static_cast<BYTE*>(bits) + y * stride + x * 3;
    p[0] = GetBValue(c);
    p[1] = GetGValue(c);
    p[2] = GetRValue(c);
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) put(x, y, fill);
  for (POINT p : spots) put(p.x, p.y, spot);
  ::GdiFlush();
  return bmp;
}

// The popup's owner: a plain hidden window that collects what is posted to it.
class OwnerWindow {
 public:
  OwnerWindow() {
    hwnd_ = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  }
  ~OwnerWindow() { ::DestroyWindow(hwnd_); }
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

struct EdgeSetup {
  TaskbarEdge edge;
  RECT work;
};
const EdgeSetup kEdges[] = {
    {TaskbarEdge::Bottom, {0, 0, 1024, 738}},
    {TaskbarEdge::Top, {0, 30, 1024, 768}},
    {TaskbarEdge::Right, {0, 0, 960, 768}},
    {TaskbarEdge::Left, {64, 0, 1024, 768}},
};

void Tick(CTaskbarNotifier& n, UINT_PTR timer) { ::SendMessageW(n.Window(), WM_TIMER, timer, 0); }

POINT WindowOrigin(HWND h) {
  RECT r{};
  ::GetWindowRect(h, &r);
  return {r.left, r.top};
}

TEST(NotifierWindow, SlidesOutAndBackOnEachEdge) {
  OwnerWindow owner;
  for (const EdgeSetup& e : kEdges) {
    SCOPED_TRACE(static_cast<int>(e.edge));
    CTaskbarNotifier n;
    ASSERT_TRUE(n.Create(owner.get()));
    ASSERT_TRUE(n.SetSkin(MakeSkin(200, 100, RGB(240, 240, 250)), -1, -1, -1));
    n.SetGeometrySource([&e] { return vd::ScreenGeometry{e.work, {1024, 768}}; });
    EXPECT_EQ(n.CurrentState(), CTaskbarNotifier::kHidden);

    n.Show(L"first", 500, 3000, 500);
    EXPECT_EQ(n.Placement(), e.edge);
    EXPECT_TRUE(::IsWindowVisible(n.Window()));
    const vd::SlidePlan plan = vd::PlanSlide(e.edge, e.work, {200, 100}, 2, 500, 500);
    EXPECT_EQ(n.ShowDelay(), plan.showDelay);
    EXPECT_EQ(n.StartPosition().x, plan.start.x);
    EXPECT_EQ(n.StartPosition().y, plan.start.y);

    int ticks = 0;
    while (n.CurrentState() != CTaskbarNotifier::kWaiting) {
      Tick(n, 1);
      ASSERT_LE(++ticks, plan.steps + 1);
      if (n.CurrentState() == CTaskbarNotifier::kAppearing) {
        const POINT at = WindowOrigin(n.Window());
        ASSERT_EQ(at.x, n.Position().x);
        ASSERT_EQ(at.y, n.Position().y);
      }
    }
    // One tick per step, and one more that finds the popup in place.
    EXPECT_EQ(ticks, plan.steps + 1);
    EXPECT_EQ(n.Position().x, plan.shown.x);
    EXPECT_EQ(n.Position().y, plan.shown.y);
    RECT r{};
    ::GetWindowRect(n.Window(), &r);
    EXPECT_EQ(r.right - r.left, 200);
    EXPECT_EQ(r.bottom - r.top, 100);

    Tick(n, 2);  // the stay is over; the slide back starts at the next tick
    ticks = 0;
    while (n.CurrentState() != CTaskbarNotifier::kHidden) {
      Tick(n, 3);
      ASSERT_LE(++ticks, plan.steps + 1);
    }
    EXPECT_EQ(ticks, plan.steps + 1);
    EXPECT_FALSE(::IsWindowVisible(n.Window()));
    EXPECT_EQ(n.Position().x, plan.start.x);
    EXPECT_EQ(n.Position().y, plan.start.y);
  }
}

TEST(NotifierWindow, ShowInEachStateFollowsTheStateMachine) {
  OwnerWindow owner;
  const EdgeSetup e = kEdges[0];
  CTaskbarNotifier n;
  ASSERT_TRUE(n.Create(owner.get()));
  ASSERT_TRUE(n.SetSkin(MakeSkin(200, 100, RGB(240, 240, 250)), -1, -1, -1));
  n.SetGeometrySource([&e] { return vd::ScreenGeometry{e.work, {1024, 768}}; });

  n.Show(L"one", 500, 3000, 500);
  Tick(n, 1);
  Tick(n, 1);
  ASSERT_EQ(n.CurrentState(), CTaskbarNotifier::kAppearing);
  const POINT midway = n.Position();
  // While appearing only the text changes; the slide goes on from where it is.
  n.Show(L"two", 500, 3000, 500);
  EXPECT_EQ(n.Text(), L"two");
  EXPECT_EQ(n.CurrentState(), CTaskbarNotifier::kAppearing);
  EXPECT_EQ(n.Position().y, midway.y);

  while (n.CurrentState() != CTaskbarNotifier::kWaiting) Tick(n, 1);
  n.Show(L"three", 500, 3000, 500);
  EXPECT_EQ(n.Text(), L"three");
  EXPECT_EQ(n.CurrentState(), CTaskbarNotifier::kWaiting);

  Tick(n, 2);
  for (int i = 0; i < 10; ++i) Tick(n, 3);
  ASSERT_EQ(n.CurrentState(), CTaskbarNotifier::kDisappearing);
  ASSERT_EQ(n.Position().y, 638 + 20);
  // While sliding back a new text jumps to the fully shown position and waits again.
  n.Show(L"four", 500, 50, 500);
  EXPECT_EQ(n.CurrentState(), CTaskbarNotifier::kWaiting);
  EXPECT_EQ(n.Position().y, 638);
  EXPECT_EQ(WindowOrigin(n.Window()).y, 638);

  // Hide from there stops the stay timer too: nothing slides out of a hidden popup afterwards.
  n.Hide();
  const ULONGLONG until = ::GetTickCount64() + 300;
  while (::GetTickCount64() < until) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    ::Sleep(10);
  }
  EXPECT_EQ(n.CurrentState(), CTaskbarNotifier::kHidden);
  EXPECT_FALSE(::IsWindowVisible(n.Window()));
  EXPECT_EQ(WindowOrigin(n.Window()).y, 0);
}

TEST(NotifierWindow, SkinShapeCutsExactlyTheTransparentPixels) {
  struct Row {
    const char* name;
    int width;
    std::vector<POINT> spots;
    int red, green, blue;
    std::vector<POINT> outside;  // pixels cut from the shape
    std::vector<POINT> inside;   // pixels that stay
  } rows[] = {
      {"colour nobody has", 200, {}, 255, 0, 255, {}, {{0, 0}, {199, 99}, {100, 50}}},
      {"three magenta pixels", 200, {{0, 0}, {5, 7}, {199, 99}}, 255, 0, 255, {{0, 0}, {5, 7}, {199, 99}},
       {{1, 0}, {5, 8}, {198, 99}}},
      // Only whole groups of four columns are examined: the last two of 202 stay.
      {"columns past a multiple of four", 202, {{199, 10}, {200, 10}, {201, 10}}, 255, 0, 255, {{199, 10}},
       {{200, 10}, {201, 10}}},
  };
  OwnerWindow owner;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CTaskbarNotifier n;
    ASSERT_TRUE(n.Create(owner.get()));
    ASSERT_TRUE(n.SetSkin(MakeSkin(r.width, 100, RGB(10, 20, 30), r.spots), r.red, r.green, r.blue));
    ASSERT_NE(n.Shape(), nullptr);
    RECT box{};
    ::GetRgnBox(n.Shape(), &box);
    EXPECT_EQ(box.right, r.width);
    EXPECT_EQ(box.bottom, 100);
    for (POINT p : r.outside) EXPECT_FALSE(::PtInRegion(n.Shape(), p.x, p.y)) << p.x << "," << p.y;
    for (POINT p : r.inside) EXPECT_TRUE(::PtInRegion(n.Shape(), p.x, p.y)) << p.x << "," << p.y;
    // The window got the same shape.
    HRGN windowShape = ::CreateRectRgn(0, 0, 0, 0);
    EXPECT_NE(::GetWindowRgn(n.Window(), windowShape), ERROR);
    EXPECT_TRUE(::EqualRgn(windowShape, n.Shape()));
    ::DeleteObject(windowShape);
  }
}

TEST(NotifierWindow, RectangularSkinAndItsTextRect) {
  OwnerWindow owner;
  CTaskbarNotifier n;
  ASSERT_TRUE(n.Create(owner.get()));
  EXPECT_FALSE(n.SetSkin(4242u, -1, -1, -1));
  ASSERT_TRUE(n.SetSkin(IDB_NOTIFIER_SKIN, -1, -1, -1));
  EXPECT_EQ(n.Shape(), nullptr);
  EXPECT_GT(n.SkinWidth(), 100);
  EXPECT_GT(n.SkinHeight(), 60);
  EXPECT_EQ(n.TextRect().right, n.SkinWidth());
  EXPECT_EQ(n.TextRect().bottom, n.SkinHeight());
  HRGN windowShape = ::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(::GetWindowRgn(n.Window(), windowShape), ERROR);  // no region: rectangular
  ::DeleteObject(windowShape);
}

TEST(NotifierWindow, FontStyleBitsAndColours) {
  struct Row {
    int style;
    LONG weight;
    BYTE italic, underline;
  } rows[] = {{0, FW_NORMAL, 0, 0}, {1, FW_BOLD, 0, 0}, {2, FW_NORMAL, 1, 0}, {4, FW_NORMAL, 0, 1},
              {7, FW_BOLD, 1, 1}};
  HDC screen = ::GetDC(nullptr);
  const LONG height = -::MulDiv(90, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
  ::ReleaseDC(nullptr, screen);
  for (const Row& r : rows) {
    CTaskbarNotifier n;
    n.SetTextFont(L"Arial", 90, 0, r.style);
    LOGFONTW normal{}, selected{};
    ASSERT_TRUE(::GetObjectW(n.NormalFont(), sizeof(normal), &normal));
    ASSERT_TRUE(::GetObjectW(n.SelectedFont(), sizeof(selected), &selected));
    EXPECT_STREQ(selected.lfFaceName, L"Arial");
    EXPECT_EQ(selected.lfHeight, height);
    EXPECT_EQ(selected.lfWeight, r.weight) << r.style;
    EXPECT_EQ(selected.lfItalic, r.italic) << r.style;
    EXPECT_EQ(selected.lfUnderline, r.underline) << r.style;
    EXPECT_EQ(normal.lfWeight, FW_NORMAL);
    EXPECT_EQ(normal.lfUnderline, 0);
  }
  CTaskbarNotifier n;
  EXPECT_EQ(n.NormalColor(), 11899525u);
  EXPECT_EQ(n.SelectedColor(), 6956042u);
}

TEST(NotifierWindow, ClickNotifiesTheOwnerAndHoverSwitchesTheLook) {
  OwnerWindow owner;
  CTaskbarNotifier n;
  ASSERT_TRUE(n.Create(owner.get()));
  MSG msg;
  while (::PeekMessageW(&msg, owner.get(), 0, 0, PM_REMOVE)) {
  }
  ::SendMessageW(n.Window(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  ASSERT_TRUE(::PeekMessageW(&msg, owner.get(), CTaskbarNotifier::kClickMessage, CTaskbarNotifier::kClickMessage,
                             PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(msg.lParam, 0);

  ::SendMessageW(n.Window(), WM_MOUSEHOVER, 0, 0);
  EXPECT_TRUE(n.MouseOver());
  ::SendMessageW(n.Window(), WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(n.MouseOver());
}

// A real showing on the system's work area with the program's skin: the states come in order, the
// whole showing takes about its three times, and the popup is captured while it waits.
TEST(NotifierWindow, RealShowingRunsThroughAllStates) {
  OwnerWindow owner;
  CTaskbarNotifier n;
  ASSERT_TRUE(n.Create(owner.get()));
  ASSERT_TRUE(n.SetSkin(IDB_NOTIFIER_SKIN, -1, -1, -1));
  n.SetTextFont(L"Arial", 90, 0, 4);
  n.SetTextColor(0x000000, 0xC80000);
  n.SetTextRect({10, 5, n.SkinWidth() - 10, n.SkinHeight() - 25});
  const ULONGLONG begin = ::GetTickCount64();
  n.Show(L"Certificate Manager\n\n\n\nYour USBKey has been used for 1 hour(s) 5 minute(s)", 300, 700, 300);
  std::vector<int> seen{n.CurrentState()};
  bool captured = false;
  while (::GetTickCount64() - begin < 8000) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    if (n.CurrentState() != seen.back()) seen.push_back(n.CurrentState());
    if (n.CurrentState() == CTaskbarNotifier::kWaiting && !captured) {
      captured = true;
      EXPECT_TRUE(vdtest::SaveWindowPng(n.Window(), L"notifier_popup.png"));
    }
    if (n.CurrentState() == CTaskbarNotifier::kHidden && seen.size() > 1) break;
    ::Sleep(5);
  }
  const ULONGLONG elapsed = ::GetTickCount64() - begin;
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 0}));
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LT(elapsed, 8000u);
  EXPECT_FALSE(::IsWindowVisible(n.Window()));
}

}  // namespace
