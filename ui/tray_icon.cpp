#include "tray_icon.h"

#include <shellapi.h>
#include <windowsx.h>

#include <optional>

#include "dpi.h"
#include "handles.h"
#include "language_manager.h"
#include "main_ids.h"


namespace vd {

namespace {

constexpr UINT kBusyPeriodMs = 350;
// From the Vista headers, which the XP build does not see.
constexpr UINT kNotifyIconVersion4 = 4;    // NOTIFYICON_VERSION_4
constexpr UINT kNotifyIconVersion3 = 3;    // NOTIFYICON_VERSION
constexpr UINT kShowTipFlag = 0x00000080;  // NIF_SHOWTIP

// The record with the balloon fields, as every shell since 5.0 takes it.
NOTIFYICONDATAW TrayRecord(HWND owner) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
  nid.hWnd = owner;
  nid.uID = IDI_TOKEN;
  return nid;
}

// The notification area shows small icons: the system's small-icon size at the DPI the owner is shown at.
HICON TrayImage(HWND owner, int state) {
  int id = IDI_TOKEN;
  if (state == kTrayBusyFirst) id = IDI_TOKEN_BUSY1;
  if (state == kTrayBusySecond) id = IDI_TOKEN_BUSY2;
  const int size = SmallIconSize(WindowDpi(owner));
  return static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED));
}

// The shell's callback in the layout the icon's version gives it: version 4 (Vista and later) packs the
// event and the icon id into lParam and the anchor point into wParam; earlier ones pass the id in wParam
// and the event in lParam. The id in lParam's high word tells them apart (an event fits in the low word).
struct TrayEvent {
  UINT event;
  bool hasAnchor;
  POINT anchor;
};

std::optional<TrayEvent> DecodeTrayCallback(WPARAM wp, LPARAM lp) {
  if (HIWORD(lp) == IDI_TOKEN) return TrayEvent{LOWORD(lp), true, {GET_X_LPARAM(wp), GET_Y_LPARAM(wp)}};
  if (wp == IDI_TOKEN && HIWORD(lp) == 0) return TrayEvent{static_cast<UINT>(lp), false, {}};
  return std::nullopt;
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
  nid.hIcon = TrayImage(owner_, kTrayIdle);
  CopyCut(nid.szTip, tip);
  ::Shell_NotifyIconW(NIM_ADD, &nid);
  shown_ = true;
  // Version 4 lets the keyboard reach the icon (Win+B, then Enter or the menu key); where the shell lacks
  // it, version 3 (Windows 2000, XP) does the same in the older message layout.
  version_ = 0;
  for (UINT version : {kNotifyIconVersion4, kNotifyIconVersion3}) {
    nid.uVersion = version;
    if (::Shell_NotifyIconW(NIM_SETVERSION, &nid)) {
      version_ = version;
      break;
    }
  }
  if (version_ == kNotifyIconVersion4) {
    // A version 4 icon shows its tip only when asked to.
    nid.uFlags = NIF_TIP | kShowTipFlag;
    ::Shell_NotifyIconW(NIM_MODIFY, &nid);
  }
}

void TrayIcon::SetTip(const std::wstring& tip) {
  if (!shown_) return;
  NOTIFYICONDATAW nid = TrayRecord(owner_);
  // A version 4 icon that is not told again to show its tip stops showing it.
  nid.uFlags = NIF_TIP | (version_ == kNotifyIconVersion4 ? kShowTipFlag : 0);
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
  nid.hIcon = TrayImage(owner_, state);
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

bool TrayIcon::OnCallback(WPARAM wp, LPARAM lp) {
  const std::optional<TrayEvent> e = DecodeTrayCallback(wp, lp);
  if (!e) return false;
  switch (e->event) {
    case WM_CONTEXTMENU:  // a right click, the menu key or Shift+F10 (versions 3 and 4)
    case NIN_KEYSELECT:   // Enter or Space on the focused icon
      ShowMenu(e->hasAnchor ? &e->anchor : nullptr, e->event == NIN_KEYSELECT);
      return false;
    case WM_RBUTTONDOWN:
      // Shells that send WM_CONTEXTMENU for this click get their menu from it.
      if (version_ != kNotifyIconVersion3 && !e->hasAnchor) ShowMenu(nullptr, false);
      return false;
    default:
      return e->event == WM_LBUTTONDBLCLK;
  }
}

void TrayIcon::ShowMenu(const POINT* anchor, bool fromKeyboard) {
  UniqueMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAYMENU)));
  if (!menu) return;
  POINT at{};
  if (anchor) at = *anchor;
  else ::GetCursorPos(&at);
  ::SetForegroundWindow(owner_);
  TranslateMenu(menu.get());
  HMENU popup = ::GetSubMenu(menu.get(), 0);
  ::SetMenuDefaultItem(popup, IDM_SHOW_MANAGER, FALSE);
  int command = static_cast<int>(
      ::TrackPopupMenu(popup, TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, owner_, nullptr));
  // A menu of a window in the background closes only after the owner got a message of its own.
  ::PostMessageW(owner_, WM_NULL, 0, 0);
  if (fromKeyboard && command == 0) {
    // Dismissed from the keyboard: the focus goes back to the icon, where the user left it.
    NOTIFYICONDATAW nid = TrayRecord(owner_);
    ::Shell_NotifyIconW(NIM_SETFOCUS, &nid);
  }
  if (command != 0) ::PostMessageW(owner_, WM_COMMAND, static_cast<WPARAM>(command), 0);
}

}  // namespace vd
