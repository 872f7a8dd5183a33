#include "dpi.h"

namespace vd {
namespace {

template <typename Function>
Function User32Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

}  // namespace

int SystemDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (hwnd && getDpiForWindow) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

int ArtScalePercent(int dpi) {
  if (dpi >= 2 * kBaseDpi) return 200;
  if (dpi * 2 >= 3 * kBaseDpi) return 150;
  return 100;
}

int SmallIconSize(int dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (forDpi) {
    const int size = forDpi(SM_CXSMICON, static_cast<UINT>(dpi));
    if (size > 0) return size;
  }
  // Without it the system metric is the system DPI's; scale it to the window's.
  return ::MulDiv(::GetSystemMetrics(SM_CXSMICON), dpi, SystemDpi());
}

namespace {

bool ThreadIsPerMonitorV2() {
  using Context = HANDLE;  // DPI_AWARENESS_CONTEXT
  using GetContextFn = Context(WINAPI*)();
  using EqualFn = BOOL(WINAPI*)(Context, Context);
  static const auto get = User32Function<GetContextFn>("GetThreadDpiAwarenessContext");
  static const auto equal = User32Function<EqualFn>("AreDpiAwarenessContextsEqual");
  const Context perMonitorV2 = reinterpret_cast<Context>(static_cast<INT_PTR>(-4));
  return get && equal && equal(get(), perMonitorV2);
}

}  // namespace

bool DialogDpiScaler::OnDpiChanged(HWND dialog, LPARAM suggestedRect) {
  if (ThreadIsPerMonitorV2()) return false;
  const RECT* suggested = reinterpret_cast<const RECT*>(suggestedRect);
  RECT now{};
  if (!suggested || !::GetWindowRect(dialog, &now) || now.right <= now.left) return false;
  const int num = suggested->right - suggested->left, den = now.right - now.left;
  LOGFONTW lf{};
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
  UniqueFont scaled;
  if (font && ::GetObjectW(font, sizeof lf, &lf)) {
    lf.lfHeight = ::MulDiv(lf.lfHeight, num, den);
    lf.lfWidth = ::MulDiv(lf.lfWidth, num, den);
    scaled.reset(::CreateFontIndirectW(&lf));
  }
  for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    RECT r{};
    ::GetWindowRect(c, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    ::SetWindowPos(c, nullptr, ::MulDiv(r.left, num, den), ::MulDiv(r.top, num, den),
                   ::MulDiv(r.right - r.left, num, den), ::MulDiv(r.bottom - r.top, num, den),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (scaled) ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(scaled.get()), FALSE);
  }
  if (scaled) {
    ::SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(scaled.get()), FALSE);
    font_ = std::move(scaled);  // the old one goes only now that no control uses it
  }
  ::SetWindowPos(dialog, nullptr, suggested->left, suggested->top, num, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(dialog, nullptr, TRUE);
  return true;
}

namespace {
int highContrastOverride = -1;
}  // namespace

void OverrideHighContrastForTesting(int on) { highContrastOverride = on; }

bool HighContrastOn() {
  if (highContrastOverride >= 0) return highContrastOverride != 0;
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof hc;
  return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

}  // namespace vd
