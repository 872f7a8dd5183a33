#include "tray_icon.h"

#include <shellapi.h>

#include "handles.h"
#include "language_manager.h"
#include "main_ids.h"

namespace vd {

namespace {

constexpr UINT kBusyPeriodMs = 350;

// The record with the balloon fields, as every shell since 5.0 takes it.
NOTIFYICONDATAW TrayRecord(HWND owner) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
  nid.hWnd = owner;
  nid.uID = IDI_TOKEN;
  return nid;
}

HICON TrayImage(int state) {
  int id = IDI_TOKEN;
  if (state == kTrayBusyFirst) id = IDI_TOKEN_BUSY1;
  if (state == kTrayBusySecond) id = IDI_TOKEN_BUSY2;
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

void TrayIcon::Attach(HWND owner, Observer observer) {
  owner_ = owner;
  observer_ = std::move(observer);
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
}

void TrayIcon::Add(const std::wstring& tip) {
  NOTIFYICONDATAW nid = TrayRecord(owner_);
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kTrayCallbackMessage;
  nid.hIcon = TrayImage(kTrayIdle);
  CopyCut(nid.szTip, tip);
  ::Shell_NotifyIconW(NIM_ADD, &nid);
  shown_ = true;
}

void TrayIcon::SetTip(const std::wstring& tip) {
  if (!shown_) return;
  NOTIFYICONDATAW nid = TrayRecord(owner_);
  nid.uFlags = NIF_TIP;
  CopyCut(nid.szTip, tip);
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void TrayIcon::Remove() {
  NOTIFYICONDATAW nid = TrayRecord(owner_);
  ::Shell_NotifyIconW(NIM_DELETE, &nid);
  shown_ = false;
}

void TrayIcon::SetState(int state) {
  if (!shown_) return;
  NOTIFYICONDATAW nid = TrayRecord(owner_);
  nid.uFlags = NIF_ICON;
  nid.hIcon = TrayImage(state);
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
  state_ = state;
}

void TrayIcon::BeginBusy() {
  ::SetTimer(owner_, kBusyTimer, kBusyPeriodMs, nullptr);
  SetState(kTrayBusyFirst);
}

void TrayIcon::EndBusy() {
  ::KillTimer(owner_, kBusyTimer);
  SetState(kTrayIdle);
}

void TrayIcon::OnBusyTimer() { SetState(state_ == kTrayBusySecond ? kTrayBusyFirst : kTrayBusySecond); }

void TrayIcon::ShowNotification(const std::wstring& text, int seconds) {
  if (!shown_) return;
  if (observer_) observer_(text, seconds);
  if (balloon_) {
    balloon_->ShowBalloon(text, seconds);
    return;
  }
  // Emptying the balloon first makes a new text replace a shown one at once.
  NOTIFYICONDATAW nid = TrayRecord(owner_);
  nid.uFlags = NIF_INFO;
  nid.uTimeout = static_cast<UINT>(seconds) * 1000u;
  nid.dwInfoFlags = NIIF_NONE;
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
  CopyCut(nid.szInfo, text);
  ::Shell_NotifyIconW(NIM_MODIFY, &nid);
}

bool TrayIcon::OnCallback(WPARAM iconId, LPARAM mouseMessage) {
  if (iconId != IDI_TOKEN) return false;
  if (mouseMessage == WM_RBUTTONDOWN) ShowMenu();
  return mouseMessage == WM_LBUTTONDBLCLK;
}

void TrayIcon::ShowMenu() {
  UniqueMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAYMENU)));
  if (!menu) return;
  POINT at{};
  ::GetCursorPos(&at);
  ::SetForegroundWindow(owner_);
  TranslateMenu(menu.get());
  HMENU popup = ::GetSubMenu(menu.get(), 0);
  ::SetMenuDefaultItem(popup, IDM_SHOW_MANAGER, FALSE);
  int command = static_cast<int>(
      ::TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, owner_, nullptr));
  // A menu of a window in the background closes only after the owner got a message of its own.
  ::PostMessageW(owner_, WM_NULL, 0, 0);
  if (command != 0) ::PostMessageW(owner_, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

}  // namespace vd
