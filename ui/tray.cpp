// The notification-area icon, its busy animation, its menu and the notifications it carries.


#include "cert_manager_dlg.h"

#include <shellapi.h>
#include "main_ids.h"
#include "platform_bridge.h"

namespace vd {

namespace {

// The record with the balloon fields, as every shell since 5.0 takes it.
NOTIFYICONDATAW TrayRecord(HWND owner) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
  nid.hWnd = owner;
  nid.uID = IDI_TOKEN;
  return nid;
}

HICON TrayImage(int state) {
  static constexpr int kIconOfState[] = {IDI_TOKEN, IDI_TOKEN, IDI_TOKEN_BUSY1, IDI_TOKEN_BUSY2};
  int id = state >= 1 && state <= 3 ? kIconOfState[state] : IDI_TOKEN;
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                         LR_SHARED));
}

template <size_t N>
void CopyCut(wchar_t (&field)[N], const std::wstring& text) {
  size_t n = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, n);
  field[n] = L'\0';
}

}  // namespace

void CertManagerDlg::AddTrayIcon(const std::wstring& tip) {
  NOTIFYICONDATAW nid = TrayRecord(hwnd_);
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kTrayCallbackMessage;
  nid.hIcon = TrayImage(1);
  CopyCut(nid.szTip, tip);
  ::Shell_NotifyIconW(NIM_ADD, &nid);
  trayIconShown_ = true;
}

void CertManagerDlg::RemoveTrayIcon() {
  NOTIFYICONDATAW nid = TrayRecord(hwnd_);
  ::Shell_NotifyIconW(NIM_DELETE, &nid);
  trayIconShown_ = false;
}

void CertManagerDlg::SetTrayState(int state) {
  if (!trayIconShown_) return;
  NOTIFYICONDATAW nid = TrayRecord(hwnd_);
  nid.uFlags = NIF_ICON;
  nid.hIcon = TrayImage(state);
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
  trayIconState_ = state;
}

void CertManagerDlg::BeginBusy() {
  ::SetTimer(hwnd_, kBusyTimer, 350, nullptr);
  SetTrayState(2);
}

void CertManagerDlg::EndBusy() {
  ::KillTimer(hwnd_, kBusyTimer);
  SetTrayState(1);
}

void CertManagerDlg::ShowNotification(const std::wstring& text, int seconds) {
  if (!trayIconShown_) return;
  if (services_.notificationObserver) services_.notificationObserver(text, seconds);
  if (balloon_) {
    balloon_->ShowBalloon(text, seconds);
    return;
  }
  // Emptying the balloon first makes a new text replace a shown one at once.
  NOTIFYICONDATAW nid = TrayRecord(hwnd_);
  nid.uFlags = NIF_INFO;
  nid.uTimeout = static_cast<UINT>(seconds) * 1000u;
  nid.dwInfoFlags = NIIF_NONE;
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
  CopyCut(nid.szInfo, text);
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void CertManagerDlg::CentreAndRaise() {
  RECT rc;
  ::GetWindowRect(hwnd_, &rc);
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 3;
  ::MoveWindow(hwnd_, x, y, w, h, FALSE);
  ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::SetForegroundWindow(hwnd_);
}

void CertManagerDlg::ShowCentred() {
  CentreAndRaise();
  ::ShowWindow(hwnd_, SW_SHOWDEFAULT);
}

void CertManagerDlg::OnTrayCallback(WPARAM id, LPARAM mouse) {
  if (id != IDI_TOKEN) return;
  if (mouse == WM_LBUTTONDBLCLK) ShowCentred();
  if (mouse == WM_RBUTTONDOWN) ShowTrayMenu();
}

void CertManagerDlg::ShowTrayMenu() {
  UniqueMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAYMENU)));
  if (!menu) return;
  POINT at{};
  ::GetCursorPos(&at);
  ::SetForegroundWindow(hwnd_);
  TranslateMenuTexts(menu.get());
  HMENU popup = ::GetSubMenu(menu.get(), 0);
  ::SetMenuDefaultItem(popup, IDM_SHOW_MANAGER, FALSE);
  int command = static_cast<int>(
      ::TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
  ::PostMessageW(hwnd_, WM_NULL, 0, 0);
  if (command != 0) ::PostMessageW(hwnd_, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

}  // namespace vd
