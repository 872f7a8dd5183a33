// The main window of vardeck: a hidden modeless dialog that lives as long as the process. It receives the
// token events and the instance messages, runs its timers and its shutdown order, and wires together the
// parts that each own one job: the tray icon, the certificate tree, the token event worker, the prompt
// watcher, the usage reminders and the dialogs open for a token.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cert_tree.h"
#include "dpi.h"
#include "main_ids.h"
#include "open_token_dialogs.h"
#include "popup_port.h"
#include "prompt_watcher.h"
#include "token_event_worker.h"
#include "token_port.h"
#include "tray_icon.h"
#include "usage_reminders.h"
#include "window_attach.h"

namespace vd {

struct DialogServices {
  std::unique_ptr<TokenPort> tokens;
  std::unique_ptr<PopupPort> popups;
  // The pause in the initialisation that lets the monitor report tokens before the tray icon is decided.
  DWORD settleDelayMs = 2000;
  // When the forced PIN check runs after the start, how long the tray icon stays after the last token
  // went, and the pause before a token whose read failed is read again. Only tests change them, to wait less.
  UINT pinCheckDelayMs = 1000;
  UINT trayRemovalDelayMs = 5000;
  UINT insertRetryDelayMs = 1000;
  // Told of every notification that reaches the tray or the balloon window.
  std::function<void(const std::wstring& text, int seconds)> notificationObserver;
};

class CertManagerDlg : public AttachedWindow {
 public:
  CertManagerDlg(UINT instanceMessage, DialogServices services);
  ~CertManagerDlg();

  // Creates the window hidden from its template; false when that fails.
  bool Create(HINSTANCE instance);

  // State that the tests and the start-up code look at.
  bool TrayIconShown() const { return tray_.Shown(); }
  bool QuietFlag() const { return quiet_; }
  int TrayIconState() const { return tray_.State(); }
  bool WorkerRunning() const { return worker_.Running(); }
  bool PromptWatcherStarted() const { return watcher_.Started(); }
  size_t UsageNotifierCount() const { return reminders_.Count(); }
  size_t QueuedEventCount() { return worker_.QueuedCount(); }
  // Period of the reminder timer, 0 while it does not run.
  UINT ReminderIntervalMs() const { return reminders_.IntervalMs(); }
  OpenTokenDialogs& TokenDialogs() { return tokenDialogs_; }

 private:
  friend struct ::vd::WindowAttach;
  // Counts how deep the dialog's handlers are nested: a message that arrives while one runs comes from
  // the modal loop of a command (a dialog, a message box, the tray menu, the PIN change).
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);

  BOOL OnInitDialog();
  void OnInstanceMessage(WPARAM command);
  // Cancels the modal windows the dialog's commands have open, so that a terminate request waiting for
  // them takes effect.
  void CancelModalCommands();
  void OnTimer(UINT_PTR id);
  void OnCommand(WORD id);
  void OnDestroy();
  void OnPaint();
  void OnStartTimer();
  void OnPinCheckTimer();
  bool BindModule();
  bool StartMonitor();
  void EndWithCancel();
  void ShowCentred();
  void CentreAndRaise();
  void AddTrayIconUnlessQuiet();
  void RebuildTree();

  // Token events (cert_manager_events.cpp).
  void OnTokenEvent(WPARAM wp, LPARAM lp);
  // `attempt` counts the reads of this insertion that failed before.
  void OnTokenInserted(unsigned long key, int attempt = 0);
  // Reads every present token afresh; those that could not be read whole are read again as an insertion's.
  void ReadAllTokens();
  // Reads the token again later, further apart the more reads failed; a pull ends it.
  void ScheduleRead(unsigned long key, int failedReads);
  void ArmReadTimer();
  void OnInsertRetryTimer();
  void OnTokenRemoved(unsigned long key);
  void OnProgress(WORD code, unsigned long key, LPARAM extra);
  void QueueObjectEvent(unsigned long key, WORD code, LPARAM extra);
  void PerformObjectEvent(const TokenEventWorker::Event& e);

  // The commands of the buttons (cert_manager_commands.cpp).
  void OnViewCertificate();
  void OnRenameToken();
  void OnDeviceInfo();

  // Forced PIN change: a token that demands a new PIN gets the change-PIN flow at once.
  void RunForcedPinChangeCheck(unsigned long key);
  // The change-PIN command (pin_command.cpp): 1 when cancelled, else the result it reported.
  long ChangePin(unsigned long key, bool forced);
  CK_RV ReadPinInfo(unsigned long key, CK_BYTE* out4);
  // True when the token says no user-PIN try is left.
  bool PinBlocked(unsigned long key);

  // While the PIN dialog runs on the isolated desktop, token events wait (see OnTokenEvent).
  void OnIsolatedRun(unsigned long key, bool started);

  HINSTANCE instance_ = nullptr;
  DialogServices services_;
  std::wstring messageCaption_;
  HICON icon_ = nullptr;  // a shared resource icon: the system owns it
  DialogDpiScaler dpi_;
  UINT instanceMessage_ = 0;
  bool quiet_ = false;
  std::atomic<bool> exit_{false};

  TrayIcon tray_;
  CertTree tree_;
  TokenEventWorker worker_;
  PromptWatcher watcher_;
  UsageReminders reminders_;
  OpenTokenDialogs tokenDialogs_;
  struct PendingRead {
    int failedReads = 0;
    DWORD due = 0;  // GetTickCount of the next read
  };
  std::map<unsigned long, PendingRead> pendingReads_;  // tokens to read again
  std::set<unsigned long> announced_;                  // tokens whose insertion the user was told of
  std::map<unsigned long, unsigned> removals_;         // pulls seen so far, per token key
  int handlerDepth_ = 0;
  bool terminatePending_ = false;
  std::optional<unsigned long> isolatedRunKey_;           // the token whose PIN changes on the isolated desktop
  std::vector<std::pair<WPARAM, LPARAM>> heldEvents_;     // token events held back during that run
};

}  // namespace vd
