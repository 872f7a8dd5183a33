// The main window of vardeck: a hidden modeless dialog that lives as long as the process. It receives the
// token events, keeps the tray icon and the notifications, runs the event worker and owns the tree.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "handles.h"
#include "popup_port.h"
#include "token_port.h"
#include "worker_thread.h"

namespace vd {

constexpr UINT kTokenEventMessage = WM_USER + 1024;  // 2048, posted by the token monitor
constexpr UINT kTrayCallbackMessage = WM_USER + 12;   // 1036
constexpr UINT kNotifierSettingsMessage = WM_USER + 2000;  // 3024
// Posted by the event worker: only the dialog thread touches the tree.
constexpr UINT kRebuildTreeMessage = WM_APP + 1;

enum TimerId : UINT_PTR {
  kBusyTimer = 1,
  kStartTimer = 2,
  kTrayRemovalTimer = 3,
  kReminderTimer = 1010,
  kPinCheckTimer = 2008,
};

struct DialogServices {
  std::unique_ptr<TokenPort> tokens;
  std::unique_ptr<PopupPort> popups;
  // The pause in the initialisation that lets the monitor report tokens before the tray icon is decided.
  DWORD settleDelayMs = 2000;
  // Told of every notification that reaches the tray or the balloon window.
  std::function<void(const std::wstring& text, int seconds)> notificationObserver;
};

class CertManagerDlg {
 public:
  CertManagerDlg(UINT instanceMessage, DialogServices services);
  ~CertManagerDlg();
  CertManagerDlg(const CertManagerDlg&) = delete;
  CertManagerDlg& operator=(const CertManagerDlg&) = delete;

  // Creates the window hidden from its template; false when that fails.
  bool Create(HINSTANCE instance);
  HWND hwnd() const { return hwnd_; }

  // State that the tests and the start-up code look at.
  bool TrayIconShown() const { return trayIconShown_; }
  bool QuietFlag() const { return quiet_; }
  int TrayIconState() const { return trayIconState_; }
  bool WorkerRunning() const { return worker_.IsRunning(); }
  bool PromptWatcherStarted() const { return watcherThread_ != nullptr; }
  size_t UsageNotifierCount() const { return usageNotifiers_.size(); }
  size_t QueuedEventCount();
  // Period of the reminder timer, 0 while it does not run.
  UINT ReminderIntervalMs() const { return reminderIntervalMs_; }

  // The change-PIN and change-name dialogs open for a token, ended when it is pulled out.
  enum class TokenDialogKind { ChangePin, ChangeName };
  void EnterTokenDialog(TokenDialogKind kind, unsigned long key, HWND dialog);
  void LeaveTokenDialog(TokenDialogKind kind, unsigned long key);

 private:
  struct QueuedEvent {
    unsigned long key;
    WORD code;
    LPARAM extra;
  };

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  BOOL OnInitDialog();
  void OnInstanceMessage(WPARAM command);
  void OnTokenEvent(WPARAM wp, LPARAM lp);
  void OnTimer(UINT_PTR id);
  void OnCommand(WORD id);
  void OnDestroy();
  void OnPaint();
  void OnNotifierSettings(WPARAM on, LPARAM minutes);
  void StartReminders(UINT intervalMs);
  void OnReminderTick();
  void OnStartTimer();
  void OnPinCheckTimer();
  bool BindModule();
  bool StartMonitor();
  void EndWithCancel();

  // Token events.
  void OnTokenInserted(unsigned long key);
  void OnTokenRemoved(unsigned long key);
  void OnProgress(WORD code, unsigned long key, LPARAM extra);
  void QueueObjectEvent(unsigned long key, WORD code, LPARAM extra);
  void PerformObjectEvent(const QueuedEvent& e);
  static unsigned __stdcall WorkerRoutine(void* selfSlot);
  void RunWorker(WorkerThread* self);
  static DWORD WINAPI PromptWatcherRoutine(void* param);
  void RunPromptWatcher();
  void CreateUsageNotifier(unsigned long key);

  // Forced PIN change: a token that demands a new PIN gets the change-PIN flow at once.
  void RunForcedPinChangeCheck(unsigned long key);
  // The change-PIN flow itself arrives with the PIN entry; until then a forced change does nothing.
  long ChangePin(unsigned long key, bool forced);

  // Tray.
  void AddTrayIcon(const std::wstring& tip);
  void RemoveTrayIcon();
  void SetTrayState(int state);
  void BeginBusy();
  void EndBusy();
  void ShowNotification(const std::wstring& text, int seconds);
  void ShowCentred();
  void ShowTrayMenu();
  void OnTrayCallback(WPARAM id, LPARAM mouse);
  void CentreAndRaise();

  // Tree.
  void InitTreeImages();
  void RebuildTree();
  void OnTreeSelectionChanged();
  void UpdateTokenLabel(unsigned long key);
  void EnableButtons(std::initializer_list<int> ids, bool enable);

  HWND hwnd_ = nullptr;
  HINSTANCE instance_ = nullptr;
  DialogServices services_;
  std::wstring messageCaption_;
  // The certificate chosen in the tree, by key: the list it came from may change under us.
  bool certificateSelected_ = false;
  unsigned long selectedTokenKey_ = 0;
  unsigned long selectedCertificateKey_ = 0;
  std::map<unsigned long, HWND> openPinDialogs_;
  std::map<unsigned long, HWND> openNameDialogs_;
  std::map<unsigned long, std::unique_ptr<UsagePopup>> usageNotifiers_;
  HICON icon_ = nullptr;
  UINT instanceMessage_ = 0;
  UINT taskbarCreatedMessage_ = 0;
  bool quiet_ = false;
  bool trayIconShown_ = false;
  std::atomic<bool> exit_{false};
  int trayIconState_ = 1;
  UINT reminderIntervalMs_ = 0;
  WorkerThread worker_;
  UniqueKernelHandle workEvent_;
  UniqueKernelHandle stopEvent_;
  HANDLE watcherThread_ = nullptr;
  CRITICAL_SECTION queueLock_;
  std::deque<QueuedEvent> queue_;
  HIMAGELIST treeImages_ = nullptr;
  std::unique_ptr<BalloonSink> balloon_;
};

}  // namespace vd
