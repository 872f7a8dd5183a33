#include "taskbar_notifier.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "dpi.h"

namespace vd {

namespace {

constexpr wchar_t kClassName[] = L"CTaskbarNotifier";

bool RegisterNotifierClass(HINSTANCE inst, WNDPROC proc) {
  WNDCLASSEXW wc{};
  if (::GetClassInfoExW(inst, kClassName, &wc)) return true;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// A point font as the framework builds one: `size` in tenths of a point, turned into a character height
// for the screen's resolution.
LOGFONTW PointFont(const wchar_t* face, int size) {
  LOGFONTW lf{};
  WindowDc screen;
  int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
  lf.lfHeight = -std::abs(::MulDiv(size, dpi, 720));
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  if (face) ::lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  return lf;
}

HFONT StyledFont(LOGFONTW lf, int style) {
  lf.lfWeight = (style & 1) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (style & 2) ? TRUE : FALSE;
  lf.lfUnderline = (style & 4) ? TRUE : FALSE;
  return ::CreateFontIndirectW(&lf);
}

}  // namespace

TaskbarEdge DetectTaskbarEdge(const RECT& work, SIZE screen) {
  const bool narrower = work.right - work.left < screen.cx;
  if (narrower && work.left == 0) return TaskbarEdge::Right;
  if (narrower) return TaskbarEdge::Left;
  if (work.bottom - work.top < screen.cy && work.top != 0) return TaskbarEdge::Top;
  return TaskbarEdge::Bottom;
}

POINT ShownPosition(TaskbarEdge edge, const RECT& work, SIZE skin) {
  switch (edge) {
    case TaskbarEdge::Right: return {work.right - skin.cx, work.bottom - skin.cy};
    case TaskbarEdge::Left: return {work.left, work.bottom - skin.cy};
    case TaskbarEdge::Top: return {work.right - skin.cx, work.top};
    default: return {work.right - skin.cx, work.bottom - skin.cy};
  }
}

SlidePlan PlanSlide(TaskbarEdge edge, const RECT& work, SIZE skin, int step, UINT timeToShow,
                    UINT timeToHide) {
  SlidePlan plan;
  const bool sideways = edge == TaskbarEdge::Left || edge == TaskbarEdge::Right;
  plan.steps = step > 0 ? (sideways ? skin.cx : skin.cy) / step : 0;
  // A skin thinner than one step still slides, in a single step, rather than dividing by zero.
  const UINT divisor = static_cast<UINT>(std::max(plan.steps, 1));
  plan.showDelay = timeToShow / divisor;
  plan.hideDelay = timeToHide / divisor;
  switch (edge) {
    case TaskbarEdge::Right: plan.start = {work.right, work.bottom - skin.cy}; break;
    case TaskbarEdge::Left: plan.start = {work.left - skin.cx, work.bottom - skin.cy}; break;
    case TaskbarEdge::Top: plan.start = {work.right - skin.cx, work.top - skin.cy}; break;
    default: plan.start = {work.right - skin.cx, work.bottom}; break;
  }
  plan.shown = ShownPosition(edge, work, skin);
  return plan;
}

// The slide ends exactly at the shown position even when the skin is not a whole number of steps.
bool AppearStep(TaskbarEdge edge, POINT start, SIZE skin, int step, POINT& current) {
  switch (edge) {
    case TaskbarEdge::Top:
      if (current.y - start.y >= skin.cy) return false;
      current.y = std::min(current.y + step, start.y + skin.cy);
      return true;
    case TaskbarEdge::Left:
      if (current.x - start.x >= skin.cx) return false;
      current.x = std::min(current.x + step, start.x + skin.cx);
      return true;
    case TaskbarEdge::Right:
      if (start.x - skin.cx >= current.x) return false;
      current.x = std::max(current.x - step, start.x - skin.cx);
      return true;
    default:
      if (start.y - skin.cy >= current.y) return false;
      current.y = std::max(current.y - step, start.y - skin.cy);
      return true;
  }
}

bool DisappearStep(TaskbarEdge edge, POINT start, int step, POINT& current) {
  switch (edge) {
    case TaskbarEdge::Top:
      if (start.y >= current.y) return false;
      current.y = std::max(current.y - step, start.y);
      return true;
    case TaskbarEdge::Left:
      if (start.x >= current.x) return false;
      current.x = std::max(current.x - step, start.x);
      return true;
    case TaskbarEdge::Right:
      if (current.x >= start.x) return false;
      current.x = std::min(current.x + step, start.x);
      return true;
    default:
      if (current.y >= start.y) return false;
      current.y = std::min(current.y + step, start.y);
      return true;
  }
}

HRGN RegionFromSkin(HBITMAP skin, COLORREF transparent) {
  BITMAP bm{};
  if (!skin || !::GetObjectW(skin, sizeof(bm), &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return nullptr;
  const int width = bm.bmWidth, height = bm.bmHeight;
  // Rows of a 24-bit bitmap whose width is a multiple of 4 need no padding.
  const int scanWidth = width & ~3;
  std::vector<BYTE> pixels(static_cast<size_t>(scanWidth) * 3 * height);
  if (scanWidth > 0) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = scanWidth;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    WindowDc screen;
    if (!screen) return nullptr;
    const int lines = ::GetDIBits(screen.get(), skin, 0, height, pixels.data(), &bi, DIB_RGB_COLORS);
    if (lines != height) return nullptr;
  }

  // The shape is the whole skin minus the transparent pixels. Collect the opaque runs of each row and build
  // the region in one call: a region made of single-pixel exclusions takes quadratic time.
  const BYTE r = GetRValue(transparent), g = GetGValue(transparent), b = GetBValue(transparent);
  std::vector<RECT> rects;
  for (int y = 0; y < height; ++y) {
    const BYTE* row = pixels.data() + static_cast<size_t>(y) * scanWidth * 3;
    int runStart = -1;
    for (int x = 0; x <= width; ++x) {
      bool opaque = x < width;
      if (x < scanWidth) {
        const BYTE* px = row + x * 3;  // blue, green, red
        opaque = !(px[0] == b && px[1] == g && px[2] == r);
      }
      if (opaque && runStart < 0) runStart = x;
      if (!opaque && runStart >= 0) {
        rects.push_back({runStart, y, x, y + 1});
        runStart = -1;
      }
    }
  }
  std::vector<BYTE> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
  auto* rd = reinterpret_cast<RGNDATA*>(data.data());
  rd->rdh.dwSize = sizeof(RGNDATAHEADER);
  rd->rdh.iType = RDH_RECTANGLES;
  rd->rdh.nCount = static_cast<DWORD>(rects.size());
  rd->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
  rd->rdh.rcBound = {0, 0, width, height};
  if (!rects.empty()) std::copy(rects.begin(), rects.end(), reinterpret_cast<RECT*>(rd->Buffer));
  return ::ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), rd);
}

CTaskbarNotifier::~CTaskbarNotifier() {
  if (hwnd_) {
    HWND h = hwnd_;
    ::SetWindowLongPtrW(h, GWLP_USERDATA, 0);  // no message reaches a half-destroyed object
    hwnd_ = nullptr;
    ::DestroyWindow(h);
  }
}

ScreenGeometry CTaskbarNotifier::SystemGeometry() {
  ScreenGeometry g;
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &g.workArea, 0)) {
    g.workArea = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }
  g.screen = {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  return g;
}

bool CTaskbarNotifier::Create(HWND owner) {
  if (hwnd_) return true;
  owner_ = owner;
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  if (!RegisterNotifierClass(inst, WindowProcOf<CTaskbarNotifier>)) return false;
  hwnd_ = ::CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 0, 0, owner, nullptr, inst, this);
  return hwnd_ != nullptr;
}

void CTaskbarNotifier::SetTextFont(const wchar_t* face, int size, int normalStyle, int selectedStyle) {
  const LOGFONTW base = PointFont(face, size);
  normalFont_.reset(StyledFont(base, normalStyle));
  selectedFont_.reset(StyledFont(base, selectedStyle));
}

void CTaskbarNotifier::SetTextColor(COLORREF normal, COLORREF selected) {
  normalColor_ = normal;
  selectedColor_ = selected;
  Redraw();
}

bool CTaskbarNotifier::SetSkin(UINT bitmapId, int red, int green, int blue, HINSTANCE module) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  auto bitmap = static_cast<HBITMAP>(
      ::LoadImageW(module, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bitmap) return false;
  return SetSkin(bitmap, red, green, blue);
}

bool CTaskbarNotifier::SetSkin(HBITMAP bitmap, int red, int green, int blue) {
  BITMAP bm{};
  if (!bitmap || !::GetObjectW(bitmap, sizeof(bm), &bm)) {
    if (bitmap) ::DeleteObject(bitmap);
    return false;
  }
  skin_.reset(bitmap);
  skinWidth_ = bm.bmWidth;
  skinHeight_ = bm.bmHeight;
  textRect_ = {0, 0, skinWidth_, skinHeight_};
  shape_.reset();
  if (red != -1 && green != -1 && blue != -1) {
    shape_.reset(RegionFromSkin(skin_.get(), RGB(red, green, blue)));
    if (shape_ && hwnd_) {
      // The window owns the region it is given, so it gets a copy and ours stays queryable.
      HRGN copy = ::CreateRectRgn(0, 0, 0, 0);
      ::CombineRgn(copy, shape_.get(), nullptr, RGN_COPY);
      if (!::SetWindowRgn(hwnd_, copy, TRUE)) ::DeleteObject(copy);
    }
  }
  return true;
}

void CTaskbarNotifier::Show(const std::wstring& text, UINT timeToShow, UINT timeToStay, UINT timeToHide,
                            int /*stepHint*/) {
  text_ = text;
  timeToShow_ = timeToShow;
  timeToStay_ = timeToStay;
  timeToHide_ = timeToHide;
  if (!hwnd_) return;
  const ScreenGeometry g = geometry_ ? geometry_() : SystemGeometry();
  const SIZE skin{skinWidth_, skinHeight_};

  switch (state_) {
    case kHidden: {
      const TaskbarEdge edge = DetectTaskbarEdge(g.workArea, g.screen);
      const SlidePlan plan = PlanSlide(edge, g.workArea, skin, step_, timeToShow, timeToHide);
      showDelay_ = plan.showDelay;
      hideDelay_ = plan.hideDelay;
      start_ = current_ = plan.start;
      placement_ = edge;
      PlaceBehindTaskbar(0);
      // Never take the focus from what the user is doing.
      ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
      ::SetTimer(hwnd_, kAppearTimer, showDelay_, nullptr);
      break;
    }
    case kAppearing:
      Redraw();
      break;
    case kWaiting:
      Redraw();
      ::KillTimer(hwnd_, kStayTimer);
      ::SetTimer(hwnd_, kStayTimer, timeToStay_, nullptr);
      break;
    case kDisappearing:
      ::KillTimer(hwnd_, kHideTimer);
      ::SetTimer(hwnd_, kStayTimer, timeToStay_, nullptr);
      // Waiting again: a Hide() now must stop the stay timer, not the slide that was stopped.
      state_ = kWaiting;
      current_ = ShownPosition(placement_, g.workArea, skin);
      ::SetWindowPos(hwnd_, nullptr, current_.x, current_.y, skinWidth_, skinHeight_,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      Redraw();
      break;
  }
}

void CTaskbarNotifier::Hide() {
  if (!hwnd_) {
    state_ = kHidden;
    return;
  }
  // All three: a Show during the slide-back leaves the stay timer running under another state.
  ::KillTimer(hwnd_, kAppearTimer);
  ::KillTimer(hwnd_, kStayTimer);
  ::KillTimer(hwnd_, kHideTimer);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(hwnd_, SW_HIDE);
  state_ = kHidden;
}

void CTaskbarNotifier::PlaceBehindTaskbar(UINT extraFlags) {
  HWND taskbar = ::FindWindowW(L"Shell_TrayWnd", nullptr);
  UINT flags = SWP_NOACTIVATE | extraFlags;
  if (!taskbar) flags |= SWP_NOZORDER;
  ::SetWindowPos(hwnd_, taskbar, current_.x, current_.y, skinWidth_, skinHeight_, flags);
}

void CTaskbarNotifier::Redraw() {
  if (!hwnd_) return;
  ::InvalidateRect(hwnd_, nullptr, FALSE);
  ::UpdateWindow(hwnd_);
}

void CTaskbarNotifier::OnTimer(UINT_PTR id) {
  switch (id) {
    case kAppearTimer: OnAppearStep(); break;
    case kStayTimer: OnStayOver(); break;
    case kHideTimer: OnDisappearStep(); break;
    default: break;
  }
}

void CTaskbarNotifier::OnAppearStep() {
  state_ = kAppearing;
  if (!AppearStep(placement_, start_, {skinWidth_, skinHeight_}, step_, current_)) {
    ::KillTimer(hwnd_, kAppearTimer);
    ::SetTimer(hwnd_, kStayTimer, timeToStay_, nullptr);
    state_ = kWaiting;
  }
  PlaceBehindTaskbar(0);
}

void CTaskbarNotifier::OnStayOver() {
  ::KillTimer(hwnd_, kStayTimer);
  ::SetTimer(hwnd_, kHideTimer, hideDelay_, nullptr);
}

void CTaskbarNotifier::OnDisappearStep() {
  state_ = kDisappearing;
  if (!DisappearStep(placement_, start_, step_, current_)) {
    ::KillTimer(hwnd_, kHideTimer);
    Hide();
  }
  PlaceBehindTaskbar(SWP_NOSIZE);
}

void CTaskbarNotifier::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd_, &ps);
  if (!dc) return;
  // Under high contrast the skin's picture gives way to the tooltip colours the user chose.
  const bool contrast = HighContrastOn();
  if (contrast) {
    RECT all{0, 0, skinWidth_, skinHeight_};
    ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_INFOBK));
    ::FrameRect(dc, &all, ::GetSysColorBrush(COLOR_INFOTEXT));
  } else if (skin_) {
    UniqueMemDc mem(::CreateCompatibleDC(dc));
    if (mem) {
      SelectedObject skin(mem.get(), skin_.get());
      ::BitBlt(dc, 0, 0, skinWidth_, skinHeight_, mem.get(), 0, 0, SRCCOPY);
    }
  }
  if (!text_.empty()) {
    SelectedObject font(dc, mouseOver_ ? selectedFont_.get() : normalFont_.get());
    ::SetTextColor(dc, contrast ? ::GetSysColor(COLOR_INFOTEXT) : mouseOver_ ? selectedColor_ : normalColor_);
    ::SetBkMode(dc, TRANSPARENT);
    // Vertical centring of word-wrapped text: measure first, then offset the rectangle.
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_END_ELLIPSIS | DT_NOPREFIX;
    RECT measure = textRect_;
    ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &measure, format | DT_CALCRECT);
    RECT target = textRect_;
    const int free = (textRect_.bottom - textRect_.top) - (measure.bottom - measure.top);
    if (free > 0) target.top += free / 2;
    ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &target, format);
  }
  ::EndPaint(hwnd_, &ps);
}

void CTaskbarNotifier::OnMouseMove() {
  if (tracking_) return;
  TRACKMOUSEEVENT tme{sizeof(tme), TME_HOVER | TME_LEAVE, hwnd_, HOVER_DEFAULT};
  tracking_ = ::TrackMouseEvent(&tme) != FALSE;
}

void CTaskbarNotifier::OnMouseHover() {
  // Hover tracking ends with the hover; the next move asks again so that the leave still arrives.
  tracking_ = false;
  if (mouseOver_) return;
  mouseOver_ = true;
  Redraw();
}

void CTaskbarNotifier::OnMouseLeave() {
  tracking_ = false;
  if (!mouseOver_) return;
  mouseOver_ = false;
  Redraw();
}

LRESULT CTaskbarNotifier::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER: OnTimer(wp); return 0;
    case WM_ERASEBKGND: return 1;  // the skin covers everything
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:  // high contrast turned on or off
      Redraw();
      break;
    case WM_PAINT: OnPaint(); return 0;
    case WM_MOUSEMOVE: OnMouseMove(); break;
    case WM_MOUSEHOVER: OnMouseHover(); return 0;
    case WM_MOUSELEAVE: OnMouseLeave(); return 0;
    case WM_LBUTTONUP:
      if (owner_) ::PostMessageW(owner_, kClickMessage, 0, 0);
      break;
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_NCDESTROY:
      // The popup is owned: destroying the owner destroys it before this object goes.
      state_ = kHidden;
      break;
    default: break;
  }
  return ::DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace vd
