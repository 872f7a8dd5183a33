#include "cert_manager_dlg.h"

#include <commctrl.h>
#include <process.h>

#include "handles.h"
#include "important_dlg.h"
#include "language_manager.h"
#include "option_dlg.h"
#include "os_version.h"
#include "scaled_art.h"
#include "ui_texts.h"

namespace vd {

namespace {

constexpr UINT kStartDelayMs = 200;
// An empty notification closes a balloon still shown.
constexpr int kNotificationSeconds = 10;
// The shutdown waits this long for the prompt watcher's current round.
constexpr DWORD kWatcherStopWaitMs = 5000;

// The message boxes and dialogs of a thread, but the main window itself: Cancel ends each, as Escape would.
BOOL CALLBACK CancelIfDialog(HWND w, LPARAM window) {
  wchar_t cls[16] = {};
  ::GetClassNameW(w, cls, 16);
  if (w != reinterpret_cast<HWND>(window) && ::IsWindowVisible(w) && lstrcmpW(cls, L"#32770") == 0)
    ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

// Cancels the dialogs of a thread that may run on another desktop: windows of a desktop are listed only to
// threads on it, so a fresh thread joins that desktop first.
struct ForeignThreadDialogs {
  DWORD thread;
  HWND keep;
};

unsigned __stdcall CancelForeignThreadDialogs(void* arg) {
  const auto* target = static_cast<const ForeignThreadDialogs*>(arg);
  if (HDESK desktop = ::GetThreadDesktop(target->thread)) ::SetThreadDesktop(desktop);
  ::EnumThreadWindows(target->thread, CancelIfDialog, reinterpret_cast<LPARAM>(target->keep));
  return 0;
}

void CancelDialogsOfThread(DWORD thread, HWND keep) {
  ForeignThreadDialogs target{thread, keep};
  UniqueThread worker(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, CancelForeignThreadDialogs, &target, 0, nullptr)));
  // The thread only posts; it is waited for because it reads `target`.
  if (worker) ::WaitForSingleObject(worker.get(), INFINITE);
}

}  // namespace

CertManagerDlg::CertManagerDlg(UINT instanceMessage, DialogServices services)
    : services_(std::move(services)), instanceMessage_(instanceMessage) {
  gate_ = services_.gate ? services_.gate : std::make_shared<WindowGate>();
  icon_ = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TOKEN), IMAGE_ICON, 0,
                                          0, LR_DEFAULTSIZE | LR_SHARED));
}

CertManagerDlg::~CertManagerDlg() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

bool CertManagerDlg::Create(HINSTANCE instance) {
  instance_ = instance;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  HWND h = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CERTMANAGER), nullptr, DialogProcOf<CertManagerDlg>,
                                reinterpret_cast<LPARAM>(this));
  return h != nullptr;
}

INT_PTR CertManagerDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  ++handlerDepth_;
  const INT_PTR result = Dispatch(msg, wp, lp);
  // A terminate request that came during a command takes effect once the command's windows are closed:
  // ending earlier would unload the module under the command's feet.
  if (--handlerDepth_ == 0 && terminatePending_ && hwnd_) {
    terminatePending_ = false;
    exit_ = true;
    ::DestroyWindow(hwnd_);
  }
  return result;
}

INT_PTR CertManagerDlg::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  if (instanceMessage_ != 0 && msg == instanceMessage_) {
    OnInstanceMessage(wp);
    return FALSE;
  }
  if (tray_.IsTaskbarCreated(msg)) {
    // The shell restarted and forgot our icon.
    if (services_.tokens->HasAnyToken() && !quiet_) tray_.Add(Text(ui_text::kReadyTipAfterShellRestart));
    return TRUE;
  }
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case kTokenEventMessage:
      OnTokenEvent(wp, lp);
      return FALSE;
    case kTrayCallbackMessage:
      if (tray_.OnCallback(wp, lp)) ShowCentred();
      return TRUE;
    case kNotifierSettingsMessage:
      reminders_.OnSettings(wp != 0, static_cast<unsigned>(lp));
      return TRUE;
    case kRebuildTreeMessage:
      RebuildTree();
      return TRUE;
    case kReplayHeldMessage:
      ReplayHeld();
      return TRUE;
    case kReadAgainMessage:
      if (!gate_->Closed() && services_.tokens->HasToken(static_cast<unsigned long>(wp)))
        reads_.Schedule(static_cast<unsigned long>(wp), 1);
      return TRUE;
    case kForcedChangesMessage:
      RunWaitingForcedChanges();
      return TRUE;
    case kDpiChangedMessage: {
      const bool scaled = dpi_.OnDpiChanged(hwnd_, lp);
      ShowBannerForDpi(hwnd_, IDC_BANNER);
      return scaled;
    }
    case WM_TIMER:
      OnTimer(wp);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE && !exit_) {
        ::ShowWindow(hwnd_, SW_MINIMIZE);
        return TRUE;
      }
      if (wp == kSysCommandAbout) services_.popups->ShowAbout(hwnd_);
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
      if (hdr->idFrom == IDC_CERT_TREE && hdr->code == TVN_SELCHANGEDW) {
        tree_.OnSelectionChanged(services_.tokens->Snapshot());
      }
      if (hdr->idFrom == IDC_CERT_TREE && hdr->code == NM_DBLCLK) OnViewCertificate();
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
  tray_.Attach(hwnd_, services_.notificationObserver);
  tree_.Attach(hwnd_);
  reminders_.Attach(hwnd_, services_.popups.get());
  reads_.Attach(hwnd_, kInsertRetryTimer);
  reads_.SetFirstDelay(services_.insertRetryDelayMs);

  TranslateDialog(hwnd_, IDD_CERTMANAGER);
  ShowBannerForDpi(hwnd_, IDC_BANNER);
  ::SetWindowTextW(hwnd_, Text(ui_text::kWindowTitle).c_str());
  tokenDialogs_.Clear();
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  messageCaption_ = Text(ui_text::kMessageCaption);
  ::SetTimer(hwnd_, kStartTimer, kStartDelayMs, nullptr);
  ::SetTimer(hwnd_, kPinCheckTimer, services_.pinCheckDelayMs, nullptr);
  reminders_.OnSettings(false, 0);
  ::SetDlgItemTextW(hwnd_, IDC_SET_NOTIFIER, Text(ui_text::kSetNotifierButton).c_str());

  if (!LoadModule()) return TRUE;
  return StartTokenWork() ? FALSE : TRUE;  // FALSE: the focus has been set
}

bool CertManagerDlg::StartTokenWork() {
  moduleReady_ = true;
  // Tokens read in part at start-up are read again as an insertion's are; the others were there before
  // the window, and are not announced.
  ReadAllTokens();
  for (const TokenView& t : services_.tokens->Snapshot()) announced_.insert(t.key);
  if (!StartMonitor()) return false;
  if (services_.settleDelayMs) ::Sleep(services_.settleDelayMs);
  AddTrayIconUnlessQuiet();
  if (OsVersion().IsWin9x()) tray_.SetBalloon(services_.popups->CreateBalloon(hwnd_));

  if (!worker_.CreateEvents()) return false;
  auto perform = [this](const TokenEventWorker::Event& e) { PerformObjectEvent(e); };
  if (!worker_.Start(perform, hwnd_, kRebuildTreeMessage)) return false;
  if (!OsVersion().IsVistaOrLater()) watcher_.Start();

  CentreAndRaise();
  tree_.InitImages();
  RebuildTree();
  ::SetFocus(::GetDlgItem(hwnd_, IDC_CHANGE_PIN));
  return true;
}

void CertManagerDlg::AddTrayIconUnlessQuiet() {
  if (services_.tokens->HasAnyToken() && !quiet_) tray_.Add(ReadyTip());
}

std::wstring CertManagerDlg::ReadyTip() const {
  return Text(polling_ ? ui_text::kPollingTip : ui_text::kReadyTip);
}

void CertManagerDlg::RebuildTree() { tree_.Rebuild(services_.tokens->Snapshot()); }

bool CertManagerDlg::LoadModule() {
  if (services_.tokens->Load()) return true;
  // A module whose service is not up yet at logon fails at first: the box says so once, and the module is
  // tried again, further apart each time, until it answers.
  // The retries go on while the box waits for the user.
  ++loadFailures_;
  if (!gate_->Closed() && hwnd_)
    ::SetTimer(hwnd_, kLoadRetryTimer, BackoffDelay(services_.loadRetryDelayMs, loadFailures_), nullptr);
  EndWithCancel();
  if (loadFailures_ == 1 && gate_->MayOpen())
    ::MessageBoxW(hwnd_, Text(ui_text::kLoadFailed).c_str(), messageCaption_.c_str(), MB_OK | MB_ICONSTOP);
  return false;
}

void CertManagerDlg::OnLoadRetryTimer() {
  if (moduleReady_ || !LoadModule()) return;
  // The start-up's PIN check found no token then: the tokens present now get theirs.
  if (StartTokenWork()) ::SetTimer(hwnd_, kPinCheckTimer, services_.pinCheckDelayMs, nullptr);
}

bool CertManagerDlg::StartMonitor() {
  if (services_.tokens->StartMonitor(hwnd_, kTokenEventMessage)) return true;
  if (gate_->MayOpen())
    ::MessageBoxW(hwnd_, Text(ui_text::kMonitorFailed).c_str(), messageCaption_.c_str(), MB_OK | MB_ICONSTOP);
  EndWithCancel();
  return false;
}

// Ending a modeless dialog only hides it: the process keeps running.
void CertManagerDlg::EndWithCancel() { ::ShowWindow(hwnd_, SW_HIDE); }

void CertManagerDlg::OnInstanceMessage(WPARAM command) {
  switch (command) {
    case kInstanceTerminate:
      RequestTerminate();
      break;
    case kInstanceShow:
      ShowCentred();
      break;
    case kInstanceQuiet:
      quiet_ = true;
      if (tray_.Shown()) tray_.Remove();
      break;
    default:
      break;
  }
}

void CertManagerDlg::RequestTerminate() {
  if (!hwnd_) return;
  gate_->Close();
  held_.Clear();
  reads_.Clear();
  forcedWaiting_.clear();
  ::KillTimer(hwnd_, kLoadRetryTimer);
  if (handlerDepth_ > 1) {
    // Inside a command's modal loop: ending now would unload the module under the command's feet.
    terminatePending_ = true;
    CancelModalCommands();
    return;
  }
  exit_ = true;
  ::DestroyWindow(hwnd_);
}

void CertManagerDlg::CancelModalCommands() {
  ::EndMenu();
  tokenDialogs_.CancelAll();
  ::EnumThreadWindows(::GetCurrentThreadId(), CancelIfDialog, reinterpret_cast<LPARAM>(hwnd_));
  // The PIN dialog on the isolated desktop runs on a thread of its own, and so do its message boxes.
  for (HWND dialog : tokenDialogs_.All()) {
    const DWORD thread = ::GetWindowThreadProcessId(dialog, nullptr);
    if (thread && thread != ::GetCurrentThreadId()) CancelDialogsOfThread(thread, dialog);
  }
}

bool CertManagerDlg::HoldTimerRound(UINT_PTR id) {
  if (gate_->Closed()) return true;
  if (!gate_->Holding() && held_.Empty()) return false;
  held_.HoldTimer(id);
  return true;
}

void CertManagerDlg::RunTimerRound(UINT_PTR id) {
  switch (id) {
    case kReminderTimer:
      reminders_.OnTimer();
      break;
    case kPinCheckTimer:
      OnPinCheckTimer();
      break;
    case kInsertRetryTimer:
      OnInsertRetryTimer();
      break;
    default:
      break;
  }
}

void CertManagerDlg::ReplayHeld() {
  // A replayed item that opens a modal window lets newer messages in: they queue behind what is still held,
  // and this loop, not a nested one, takes them.
  if (replaying_) return;
  replaying_ = true;
  while (gate_->MayOpen()) {
    std::optional<HeldWork::Item> item = held_.Next();
    if (!item) break;
    if (item->timer)
      RunTimerRound(item->wp);
    else
      HandleTokenEvent(item->wp, item->lp);
  }
  replaying_ = false;
  if (!gate_->Closed()) reads_.Arm();
}

void CertManagerDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kBusyTimer:
      tray_.OnBusyTimer();
      break;
    case kStartTimer:
      ::KillTimer(hwnd_, kStartTimer);
      OnStartTimer();
      break;
    case kTrayRemovalTimer:
      ::KillTimer(hwnd_, kTrayRemovalTimer);
      tray_.ShowNotification(L"", kNotificationSeconds);
      tray_.Remove();
      break;
    case kReminderTimer:
      if (!HoldTimerRound(id)) reminders_.OnTimer();
      break;
    case kPinCheckTimer:
      ::KillTimer(hwnd_, kPinCheckTimer);
      if (!HoldTimerRound(id)) OnPinCheckTimer();
      break;
    case kInsertRetryTimer:
      ::KillTimer(hwnd_, kInsertRetryTimer);
      if (!HoldTimerRound(id)) OnInsertRetryTimer();
      break;
    case kLoadRetryTimer:
      ::KillTimer(hwnd_, kLoadRetryTimer);
      OnLoadRetryTimer();
      break;
    default:
      break;
  }
}

void CertManagerDlg::OnStartTimer() {
  // A module that failed to load is tried again by its own timer.
  if (!moduleReady_ || !LoadModule()) return;
  RebuildTree();
  ::SetFocus(::GetDlgItem(hwnd_, IDC_CHANGE_PIN));
  if (!StartMonitor()) return;
  AddTrayIconUnlessQuiet();
}

void CertManagerDlg::OnPinCheckTimer() {
  // Slot numbers from 1 stand for the tokens; a module that numbers its slots otherwise gets those keys.
  size_t n = services_.tokens->Snapshot().size();
  for (size_t i = 1; i <= n; ++i) RunForcedPinChangeCheck(static_cast<unsigned long>(i));
}

void CertManagerDlg::OnCommand(WORD id) {
  switch (id) {
    case IDOK:
      break;
    case IDCANCEL:
      if (exit_) {
        tray_.Remove();
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
    case IDC_CHANGE_PIN:
      if (std::optional<unsigned long> key = tree_.SelectedTokenKey()) ChangePin(*key, false);
      break;
    case IDC_VIEW_CERT:
      OnViewCertificate();
      break;
    case IDC_CHANGE_NAME:
      OnRenameToken();
      break;
    case IDC_OPTION:
      RunOptionCommand(hwnd_, messageCaption_);
      break;
    case IDC_IMPORTANT:
      RunImportantDialog(hwnd_);
      break;
    case IDC_DEVICE_INFO:
      OnDeviceInfo();
      break;
    default:
      // Initialize (2028) and the buttons without a command (1017, 1018, 2003) do nothing.
      break;
  }
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
  exit_ = true;
  gate_->Close();
  // The order matters: no event is worked on once the registrations go, and the module is finalised
  // (ending the monitor's wait) only after that.
  worker_.SignalStop();
  worker_.Stop();
  services_.tokens->PurgeRegistrations();
  services_.tokens->Unload();
  watcher_.Stop(kWatcherStopWaitMs);
  tray_.Remove();
  tray_.DestroyBalloon();
  worker_.CloseEvents();
  held_.Clear();
  reads_.Clear();
  for (UINT_PTR t : std::initializer_list<UINT_PTR>{kBusyTimer, kStartTimer, kTrayRemovalTimer, kPinCheckTimer,
                                                  kInsertRetryTimer, kLoadRetryTimer})
    ::KillTimer(hwnd_, t);
  reminders_.Release();
  tree_.Release();
}

}  // namespace vd
