#include "background_window.h"

#include "dpi.h"
#include "secure_ids.h"

namespace vd {

void BackgroundWindow::Release() {
  brush_.reset();
  hwnd_ = nullptr;
}

bool BackgroundWindow::Initialise() {
  if (!IsValid() || !snapshot_) return false;
  ::SetWindowPos(hwnd_, HWND_NOTOPMOST, 0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                 SWP_NOACTIVATE);
  brush_.reset(::CreatePatternBrush(snapshot_));
  if (!brush_) return false;
  if (isolated_) {
    LONG_PTR ex = ::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
    ex = (ex | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE) & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW);
    ::SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, ex);
  }
  return true;
}

INT_PTR BackgroundWindow::RunModal(HINSTANCE module) {
  modal_ = true;
  return ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_PIN_BACKGROUND), nullptr, DialogProcOf<BackgroundWindow>,
                           reinterpret_cast<LPARAM>(this));
}

HWND BackgroundWindow::CreateModeless(HINSTANCE module, HWND owner) {
  modal_ = false;
  HWND w = ::CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_PIN_BACKGROUND), owner, DialogProcOf<BackgroundWindow>,
                                reinterpret_cast<LPARAM>(this));
  if (!w) return nullptr;
  if (!brush_) {  // initialisation failed
    ::DestroyWindow(w);
    return nullptr;
  }
  ::ShowWindow(w, SW_SHOWNOACTIVATE);
  ::UpdateWindow(w);
  return w;
}

INT_PTR BackgroundWindow::OnMessage(UINT msg, WPARAM, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      if (!Initialise()) {
        if (modal_) ::EndDialog(hwnd_, IDCANCEL);
        return FALSE;
      }
      if (ready_) ::SetEvent(ready_);
      return FALSE;  // takes no focus
    case WM_CTLCOLORDLG:
      // Under high contrast the dimmed picture of the screen gives way to the user's desktop colour.
      if (HighContrastOn()) return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_DESKTOP));
      return reinterpret_cast<INT_PTR>(brush_.get());
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      ::InvalidateRect(hwnd_, nullptr, TRUE);
      return FALSE;
    case WM_CLOSE:
      if (modal_)
        ::EndDialog(hwnd_, IDCANCEL);
      else
        ::DestroyWindow(hwnd_);
      return TRUE;
    case WM_NCDESTROY:
      brush_.reset();
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace vd
