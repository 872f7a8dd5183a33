#include "balloon_window.h"

#include <algorithm>

#include "dpi.h"

namespace vd {

namespace {

constexpr UINT_PTR kTickTimer = 1;

HFONT BalloonFont(int weight, int dpi) {
  return ::CreateFontW(-ScaleForDpi(12, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_STRING_PRECIS,
                       CLIP_STROKE_PRECIS, PROOF_QUALITY, VARIABLE_PITCH | FF_SWISS,
                       BalloonFaceName(::GetSystemDefaultLangID()));
}

}  // namespace

std::vector<POINT> BalloonOutline(int W, int H) {
  return {{0, 5},         {1, 4},         {1, 3},         {3, 1},         {4, 1},         {5, 0},
          {W - 5, 0},     {W - 4, 1},     {W - 3, 1},     {W - 1, 3},     {W - 1, 4},     {W, 5},
          {W, H - 5},     {W - 1, H - 4}, {W - 1, H - 3}, {W - 3, H - 1}, {W - 4, H - 1}, {W - 5, H},
          {5, H},         {4, H - 1},     {3, H - 1},     {1, H - 3},     {1, H - 4},     {0, H - 5},
          {0, 5}};
}

std::vector<POINT> BalloonPaintedOutline(const RECT& c) {
  const LONG L = c.left, T = c.top, R = c.right, B = c.bottom;
  return {{L, T + 5},     {L + 1, T + 4}, {L + 1, T + 3}, {L + 3, T + 1}, {L + 4, T + 1}, {L + 5, T},
          {R - 6, T},     {R - 5, T + 1}, {R - 4, T + 1}, {R - 2, T + 3}, {R - 2, T + 4}, {R - 1, T + 5},
          {R - 1, B - 6}, {R - 2, B - 5}, {R - 2, B - 4}, {R - 4, B - 2}, {R - 5, B - 2}, {R - 6, B - 1},
          {L + 5, B - 1}, {L + 4, B - 2}, {L + 3, B - 2}, {L + 1, B - 4}, {L + 1, B - 5}, {L, B - 6},
          {L, T + 5}};
}

const wchar_t* BalloonFaceName(LANGID lang) {
  if (PRIMARYLANGID(lang) == LANG_CHINESE && SUBLANGID(lang) == SUBLANG_CHINESE_SIMPLIFIED) {
    return L"\x5B8B\x4F53";  // the Simplified Chinese system font
  }
  return L"Tahoma";
}

HWND BalloonWindow::Create() {
  if (hwnd_) return hwnd_;
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  if (!::GetClassInfoExW(inst, kClassName, &wc)) {
    wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProcOf<BalloonWindow>;
    wc.hInstance = inst;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kClassName;
    if (!::RegisterClassExW(&wc)) return nullptr;
  }
  HWND h = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, L"", WS_POPUP, 0, 0, 5, 5, nullptr,
                             nullptr, inst, this);
  if (!h) return nullptr;
  ::ShowWindow(h, SW_HIDE);
  ::UpdateWindow(h);
  return hwnd_;
}

void BalloonWindow::Destroy() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

SIZE BalloonWindow::MeasureText() const {
  SIZE total{0, 0};
  WindowDc windowDc(hwnd_);
  HDC dc = windowDc.get();
  if (!dc) return total;
  SelectedObject font(dc, normalFont_.get());
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  // Each line is measured on its own; the window holds all of them (a height of one line would leave
  // the later lines outside it).
  size_t begin = 0;
  while (true) {
    const size_t end = text_.find(L'\n', begin);
    const std::wstring line = text_.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
    SIZE s{0, tm.tmHeight};
    if (!line.empty()) ::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &s);
    total.cx = std::max(total.cx, s.cx);
    total.cy += std::max<LONG>(s.cy, tm.tmHeight);
    if (end == std::wstring::npos) break;
    begin = end + 1;
  }
  return total;
}

void BalloonWindow::ShowBalloon(const wchar_t* text, int seconds) {
  if (!hwnd_) return;
  if (!text || !*text) {
    ::ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  text_.assign(text, std::min(::wcslen(text), kMaxText));
  remaining_ = seconds;
  const int right = ::GetSystemMetrics(SM_CXSCREEN) - ScaleForDpi(kRightMargin, dpi_);
  const int bottom = ::GetSystemMetrics(SM_CYSCREEN) - ScaleForDpi(kBottomMargin, dpi_);
  const SIZE size = MeasureText();
  const int w = size.cx + ScaleForDpi(30, dpi_), h = size.cy + ScaleForDpi(10, dpi_);
  const std::vector<POINT> outline = BalloonOutline(w, h);
  HRGN region = ::CreatePolygonRgn(outline.data(), static_cast<int>(outline.size()), WINDING);
  ::ShowWindow(hwnd_, SW_HIDE);
  ::MoveWindow(hwnd_, right - w, bottom - h, w, h, FALSE);
  if (region && !::SetWindowRgn(hwnd_, region, TRUE)) ::DeleteObject(region);
  ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  ::UpdateWindow(hwnd_);
}

void BalloonWindow::OnCreate() {
  background_.reset(::CreateSolidBrush(kBackground));
  frame_.reset(::CreatePen(PS_INSIDEFRAME, 1, RGB(0, 0, 0)));
  CreateFonts(WindowDpi(hwnd_));
  ::SetTimer(hwnd_, kTickTimer, 1000, nullptr);
}

void BalloonWindow::CreateFonts(int dpi) {
  dpi_ = dpi;
  normalFont_.reset(BalloonFont(FW_NORMAL, dpi));
  boldFont_.reset(BalloonFont(FW_BOLD, dpi));
}

void BalloonWindow::OnDpiChanged(int dpi) {
  CreateFonts(dpi);
  // Measured again in the new font, in the same corner of the screen.
  if (::IsWindowVisible(hwnd_)) {
    const std::wstring text = text_;
    ShowBalloon(text.c_str(), remaining_);
  }
}

void BalloonWindow::OnDestroy() {
  ::KillTimer(hwnd_, kTickTimer);
  normalFont_.reset();
  boldFont_.reset();
  background_.reset();
  frame_.reset();
}

void BalloonWindow::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd_, &ps);
  if (!dc) return;
  {
  const int oldMode = ::SetBkMode(dc, TRANSPARENT);
  // High contrast replaces the pale yellow by the colours the user chose for tooltips.
  const bool contrast = HighContrastOn();
  UniquePen contrastFrame(contrast ? ::CreatePen(PS_INSIDEFRAME, 1, ::GetSysColor(COLOR_INFOTEXT)) : nullptr);
  SelectedObject pen(dc, contrast ? contrastFrame.get() : frame_.get());
  SelectedObject brush(dc, contrast ? ::GetSysColorBrush(COLOR_INFOBK) : background_.get());
  const COLORREF oldColour = ::SetTextColor(dc, contrast ? ::GetSysColor(COLOR_INFOTEXT) : RGB(0, 0, 0));
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  const std::vector<POINT> outline = BalloonPaintedOutline(client);
  ::Polygon(dc, outline.data(), static_cast<int>(outline.size()));
  RECT textRect = client;
  textRect.left += ScaleForDpi(15, dpi_);
  textRect.top += ScaleForDpi(5, dpi_);
  SelectedObject font(dc, normalFont_.get());
  ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &textRect, DT_WORDBREAK | DT_NOPREFIX);
  ::SetTextColor(dc, oldColour);
  ::SetBkMode(dc, oldMode);
  }  // the selections end before the paint does
  ::EndPaint(hwnd_, &ps);
}

void BalloonWindow::OnTimer() {
  if (remaining_ > 0) {
    --remaining_;
  } else {
    ::ShowWindow(hwnd_, SW_HIDE);
  }
}

LRESULT BalloonWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: OnCreate(); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_PAINT: OnPaint(); return 0;
    case WM_TIMER:
      if (wp == kTickTimer) OnTimer();
      return 0;
    case WM_LBUTTONDOWN: ::ShowWindow(hwnd_, SW_HIDE); return 0;
    case kDpiChangedMessage: OnDpiChanged(LOWORD(wp)); return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:  // high contrast turned on or off
      ::InvalidateRect(hwnd_, nullptr, TRUE);
      return ::DefWindowProcW(hwnd_, msg, wp, lp);
    default: return ::DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

}  // namespace vd
