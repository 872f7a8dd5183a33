#include "cert_manager_dlg.h"


#include "main_ids.h"
#include "platform_bridge.h"

namespace vd {

CertManagerDlg::CertManagerDlg(UINT instanceMessage, DialogServices services)
    : services_(std::move(services)), instanceMessage_(instanceMessage) {
  ::InitializeCriticalSection(&queueLock_);
  icon_ = static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOKEN), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

CertManagerDlg::~CertManagerDlg() {
  if (hwnd_) ::DestroyWindow(hwnd_);
  ::DeleteCriticalSection(&queueLock_);
}

bool CertManagerDlg::Create(HINSTANCE instance) {
  instance_ = instance;
  taskbarCreatedMessage_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  HWND h = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CERTMANAGER), nullptr, DialogProc,
                                reinterpret_cast<LPARAM>(this));
  return h != nullptr;
}

size_t CertManagerDlg::QueuedEventCount() {
  CsLock lock(queueLock_);
  return queue_.size();
}

INT_PTR CALLBACK CertManagerDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CertManagerDlg* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CertManagerDlg*>(lp);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
  } else {
    self = reinterpret_cast<CertManagerDlg*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  INT_PTR result = self->HandleMessage(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

INT_PTR CertManagerDlg::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (instanceMessage_ != 0 && msg == instanceMessage_) {
    OnInstanceMessage(wp);
    return FALSE;
  }
  if (taskbarCreatedMessage_ != 0 && msg == taskbarCreatedMessage_) {
    // The shell restarted and forgot our icon.
    if (services_.tokens->HasAnyToken() && !quiet_) {
      AddTrayIcon(Text(11000, L"Certificate Manager is ready"));
    }
    return TRUE;
  }
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case kTokenEventMessage:
      OnTokenEvent(wp, lp);
      return FALSE;
    case kTrayCallbackMessage:
      OnTrayCallback(wp, lp);
      return TRUE;
    case kNotifierSettingsMessage:
      OnNotifierSettings(wp, lp);
      return TRUE;
    case kRebuildTreeMessage:
      RebuildTree();
      return TRUE;
    case WM_TIMER:
      OnTimer(wp);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE && !exit_) {
        ::ShowWindow(hwnd_, SW_MINIMIZE);
        return TRUE;
      }
      if (wp == 100) services_.popups->ShowAbout(hwnd_);
      return FALSE;
    case WM_SIZE:
      if (wp == SIZE_MINIMIZED) {
        ::ShowWindow(hwnd_, SW_HIDE);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      ::ShowWindow(hwnd_, SW_HIDE);
      return TRUE;
    case WM_PAINT:
      if (::IsIconic(hwnd_)) {
        OnPaint();
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
      OnCommand(LOWORD(wp));
      return TRUE;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (hdr->idFrom == IDC_CERT_TREE && hdr->code == TVN_SELCHANGEDW) OnTreeSelectionChanged();
      return FALSE;
    }
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

BOOL CertManagerDlg::OnInitDialog() {
  TranslateDialogTexts(hwnd_, IDD_CERTMANAGER);
  ::SetWindowTextW(hwnd_, Text(1019, L"Opalix Certificate Manager").c_str());
  openPinDialogs_.clear();
  openNameDialogs_.clear();
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  messageCaption_ = Text(102, L"Certificate Manager");
  ::SetTimer(hwnd_, kStartTimer, 200, nullptr);
  ::SetTimer(hwnd_, kPinCheckTimer, 1000, nullptr);
  OnNotifierSettings(0, 0);
  ::SetDlgItemTextW(hwnd_, IDC_SET_NOTIFIER, Text(200115, L"&Set Notifier").c_str());

  if (!BindModule()) return TRUE;
  services_.tokens->EnumerateTokens(false);
  if (!StartMonitor()) return TRUE;
  if (services_.settleDelayMs) ::Sleep(services_.settleDelayMs);
  if (services_.tokens->HasAnyToken() && !quiet_) AddTrayIcon(Text(11000, L"Certificate Register is ready"));
  if (OsIsWin9x()) balloon_ = services_.popups->CreateBalloon(hwnd_);

  workEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  stopEvent_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!workEvent_ || !stopEvent_) {
    workEvent_.reset();
    stopEvent_.reset();
    return TRUE;
  }
  if (worker_.Start(WorkerRoutine, nullptr, this) != 0) return TRUE;
  if (!OsIsVistaOrLater()) watcherThread_ = ::CreateThread(nullptr, 0, PromptWatcherRoutine, this, 0, nullptr);

  CentreAndRaise();
  InitTreeImages();
  RebuildTree();
  ::SetFocus(::GetDlgItem(hwnd_, IDC_CHANGE_PIN));
  return FALSE;  // the focus has been set
}

bool CertManagerDlg::BindModule() {
  if (services_.tokens->Load()) return true;
  ::MessageBoxW(hwnd_, Text(11001, L"Failed to load PKCS#11 library, please check your installation").c_str(),
                messageCaption_.c_str(), MB_OK | MB_ICONSTOP);
  EndWithCancel();
  return false;
}

bool CertManagerDlg::StartMonitor() {
  if (services_.tokens->StartMonitor(hwnd_, kTokenEventMessage)) return true;
  ::MessageBoxW(hwnd_,
                Text(11002, L"Can not start USBKey monitor, the certificate register works unperfectly").c_str(),
                messageCaption_.c_str(), MB_OK | MB_ICONSTOP);
  EndWithCancel();
  return false;
}

// Ending a modeless dialog only hides it: the process keeps running.
void CertManagerDlg::EndWithCancel() { ::ShowWindow(hwnd_, SW_HIDE); }

void CertManagerDlg::OnInstanceMessage(WPARAM command) {
  switch (command) {
    case 1:
      exit_ = true;
      ::DestroyWindow(hwnd_);
      break;
    case 2:
      ShowCentred();
      break;
    case 3:
      quiet_ = true;
      if (trayIconShown_) RemoveTrayIcon();
      break;
    default:
      break;
  }
}

void CertManagerDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kBusyTimer:
      SetTrayState(trayIconState_ == 3 ? 2 : 3);
      break;
    case kStartTimer:
      ::KillTimer(hwnd_, kStartTimer);
      OnStartTimer();
      break;
    case kTrayRemovalTimer:
      ::KillTimer(hwnd_, kTrayRemovalTimer);
      ShowNotification(L"", 10);
      RemoveTrayIcon();
      break;
    case kReminderTimer:
      OnReminderTick();
      break;
    case kPinCheckTimer:
      ::KillTimer(hwnd_, kPinCheckTimer);
      OnPinCheckTimer();
      break;
    default:
      break;
  }
}

void CertManagerDlg::OnStartTimer() {
  if (!BindModule()) return;
  RebuildTree();
  ::SetFocus(::GetDlgItem(hwnd_, IDC_CHANGE_PIN));
  if (!StartMonitor()) return;
  if (services_.tokens->HasAnyToken() && !quiet_) AddTrayIcon(Text(11000, L"Certificate Register is ready"));
}

void CertManagerDlg::OnPinCheckTimer() {
  // Slot numbers from 1 stand for the tokens; a module that numbers its slots otherwise gets those keys.
  size_t n = services_.tokens->TokenCount();
  for (size_t i = 1; i <= n; ++i) RunForcedPinChangeCheck(static_cast<unsigned long>(i));
}

void CertManagerDlg::OnCommand(WORD id) {
  switch (id) {
    case IDOK:
      break;
    case IDCANCEL:
      if (exit_) {
        RemoveTrayIcon();
        EndWithCancel();
      }
      break;
    case IDC_EXIT:
      ::ShowWindow(hwnd_, SW_HIDE);
      break;
    case IDC_SET_NOTIFIER: {
      bool enabled = false;
      unsigned minutes = 0;
      if (services_.popups->RunSetNotifier(hwnd_, &enabled, &minutes)) {
        ::PostMessageW(hwnd_, kNotifierSettingsMessage, enabled ? 1 : 0, minutes);
      }
      break;
    }
    case IDM_SHOW_MANAGER:
      ::ShowWindow(hwnd_, SW_SHOWNORMAL);
      ::SetFocus(hwnd_);
      break;
    case IDM_ABOUT:
      services_.popups->ShowAbout(hwnd_);
      break;
    default:
      // The commands behind the remaining buttons come with the token operations.
      break;
  }
}

void CertManagerDlg::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd_, &ps);
  ::SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  ::GetClientRect(hwnd_, &rc);
  int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  if (icon_) ::DrawIcon(dc, x, y, icon_);
  ::EndPaint(hwnd_, &ps);
}

void CertManagerDlg::OnDestroy() {
  exit_ = true;  // the prompt watcher polls it
  if (stopEvent_) ::SetEvent(stopEvent_.get());
  worker_.Stop(INFINITE);
  services_.tokens->PurgeRegistrations();
  services_.tokens->Unload();
  if (watcherThread_) {
    // The watcher reads this object; it must be gone before the object is. It looks at the flag every
    // half second.
    ::WaitForSingleObject(watcherThread_, 5000);
    ::CloseHandle(watcherThread_);
    watcherThread_ = nullptr;
  }
  RemoveTrayIcon();
  balloon_.reset();
  stopEvent_.reset();
  workEvent_.reset();
  for (UINT_PTR t : {kBusyTimer, kStartTimer, kTrayRemovalTimer, kReminderTimer, kPinCheckTimer}) {
    ::KillTimer(hwnd_, t);
  }
  usageNotifiers_.clear();
  HWND tree = ::GetDlgItem(hwnd_, IDC_CERT_TREE);
  if (tree) TreeView_SetImageList(tree, nullptr, TVSIL_NORMAL);
  if (treeImages_) {
    ImageList_Destroy(treeImages_);
    treeImages_ = nullptr;
  }
}

void CertManagerDlg::EnterTokenDialog(TokenDialogKind kind, unsigned long key, HWND dialog) {
  (kind == TokenDialogKind::ChangePin ? openPinDialogs_ : openNameDialogs_)[key] = dialog;
}

void CertManagerDlg::LeaveTokenDialog(TokenDialogKind kind, unsigned long key) {
  (kind == TokenDialogKind::ChangePin ? openPinDialogs_ : openNameDialogs_).erase(key);
}

void CertManagerDlg::RunForcedPinChangeCheck(unsigned long key) {
  if (!services_.tokens->IsPinChangeRequired(key)) return;
  constexpr long kPinIncorrect = 0xA0;
  // A wrong old PIN asks again; anything that goes wrong inside the flow ends the check quietly, since it
  // runs from timers and event handlers that have nobody to report to.
  try {
    while (ChangePin(key, true) == kPinIncorrect) {
    }
  } catch (...) {
  }
}

long CertManagerDlg::ChangePin(unsigned long /*key*/, bool /*forced*/) { return 1; /* cancelled */ }

}  // namespace vd
