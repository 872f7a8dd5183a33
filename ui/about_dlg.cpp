#include "about_dlg.h"

#include "common_ids.h"
#include "dpi.h"
#include "language_manager.h"
#include "window_attach.h"

namespace vd {

namespace {

class AboutDlg : public AttachedWindow {
 public:
  explicit AboutDlg(HINSTANCE module) : module_(module) {}

 private:
  friend struct ::vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case kDpiChangedMessage:
        return dpi_.OnDpiChanged(hwnd_, lp);
      case WM_INITDIALOG: {
        TranslateDialog(hwnd_, IDD_ABOUT);
        // Translation rewrites the texts of every static, the icon's too; put the icon back afterwards.
        // The large icon at the DPI the box is shown at: the icon file holds 32, 40, 48 and 64 px.
        const int size = ScaleForDpi(32, WindowDpi(hwnd_));
        auto icon = static_cast<HICON>(
            ::LoadImageW(module_, MAKEINTRESOURCEW(IDI_TOKEN), IMAGE_ICON, size, size, LR_SHARED));
        if (icon) ::SendDlgItemMessageW(hwnd_, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        return TRUE;
      }
      case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
          ::EndDialog(hwnd_, LOWORD(wp));
          return TRUE;
        }
        break;
      default: break;
    }
    return FALSE;
  }

  HINSTANCE module_;
  DialogDpiScaler dpi_;
};

}  // namespace

void RunAboutDlg(HWND owner, HINSTANCE module) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  AboutDlg dlg(module);
  ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_ABOUT), owner, DialogProcOf<AboutDlg>, reinterpret_cast<LPARAM>(&dlg));
}

}  // namespace vd
