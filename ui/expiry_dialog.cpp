#include "expiry_dialog.h"

#include <windows.h>

#include "dpi.h"
#include "expiry_ids.h"
#include "language_manager.h"
#include "ui_texts.h"
#include "window_attach.h"

namespace vd {
namespace {

constexpr size_t kMaxMessage = 255;

class ExpiryDialogWindow : public AttachedWindow {
 public:
  explicit ExpiryDialogWindow(int days) : days_(days) {}
  bool NoPrompt() const { return noPrompt_; }

 private:
  friend struct ::vd::WindowAttach;

  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kDpiChangedMessage) return dpi_.OnDpiChanged(hwnd_, lp);
    if (msg == WM_INITDIALOG) {
      OnInitDialog();
      return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
      // Either button honours the box: the user asked not to be bothered again.
      noPrompt_ = ::IsDlgButtonChecked(hwnd_, IDC_CHECK_CERT_NO_PROMPT) == BST_CHECKED;
      ::EndDialog(hwnd_, LOWORD(wp));
      return TRUE;
    }
    return FALSE;
  }

  void OnInitDialog() {
    TranslateDialog(hwnd_, IDD_CHECK_CERT);
    ::SetDlgItemTextW(hwnd_, IDC_CHECK_CERT_MESSAGE, ExpiryMessage(days_).c_str());
    // Centred across, a third of the free height from the top, above everything: the user is busy
    // elsewhere when the token goes in.
    RECT rc{};
    ::GetWindowRect(hwnd_, &rc);
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;
    int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 3;
    ::SetWindowPos(hwnd_, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE);
    ::SetForegroundWindow(hwnd_);
  }

  int days_;
  bool noPrompt_ = false;
  DialogDpiScaler dpi_;
};

}  // namespace

std::wstring ExpiryMessage(int days) {
  std::wstring text = days < 0 ? Text(ui_text::kExpired) : FormatText(ui_text::kExpiresInDays, {days});
  if (text.size() > kMaxMessage) text.resize(kMaxMessage);
  return text;
}

bool ExpiryDialog(int days) {
  ExpiryDialogWindow dialog(days);
  INT_PTR r = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHECK_CERT), nullptr,
                                DialogProcOf<ExpiryDialogWindow>, reinterpret_cast<LPARAM>(&dialog));
  return r > 0 && dialog.NoPrompt();
}

}  // namespace vd
