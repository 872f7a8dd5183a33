#include "about_dlg.h"

#include "common_ids.h"
#include "language_manager.h"

namespace vd {

namespace {

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      TranslateDialog(hwnd, IDD_ABOUT);
      // Translation rewrites the texts of every static, the icon's too; put the icon back afterwards.
      auto module = reinterpret_cast<HINSTANCE>(lp);
      auto icon = static_cast<HICON>(
          ::LoadImageW(module, MAKEINTRESOURCEW(IDI_TOKEN), IMAGE_ICON, 32, 32, LR_SHARED));
      if (icon) ::SendDlgItemMessageW(hwnd, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
        ::EndDialog(hwnd, LOWORD(wp));
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

}  // namespace

void RunAboutDlg(HWND owner, HINSTANCE module) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, reinterpret_cast<LPARAM>(module));
}

}  // namespace vd
