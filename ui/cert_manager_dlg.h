// The main window of vardeck: a hidden modeless dialog that lives as long as the process. It receives the
// token events and the instance messages, runs its timers and its shutdown order, and wires together the
// parts that each own one job: the tray icon, the certificate tree, the token event worker, the prompt
// watcher, the usage reminders, the dialogs open for a token, the window gate with the work it holds, and
// the tokens to read again.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
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
#include "read_again.h"
#include "token_event_worker.h"
#include "token_port.h"
#include "tray_icon.h"
#include "usage_reminders.h"
#include "window_attach.h"
#include "window_gate.h"

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
  // The first pause before a module whose C_Initialize failed is initialised again; it doubles up to 60 s.
  UINT loadRetryDelayMs = 1000;
  // Whether a window may open now. The program hands the same gate to the expiry warning it gives the
  // token layer (GatedExpiryPrompt); without one the window makes its own.
  std::shared_ptr<WindowGate> gate;
  // Told of every notification that reaches the tray or the balloon window.
  std::function<void(const std::wstring& text, int seconds)> notificationObserver;
};

class CertManagerDlg : public AttachedWindow {
 public:
  CertManagerDlg(UINT instanceMessage, DialogServices services);
  ~CertManagerDlg();

  // Creates the window hidden from its template; false when that fails.
  bool Create(HINSTANCE instance);

  // The one way the program ends ("-t", and whatever else asks it to end), on the window's thread: the gate
  // closes, the windows the commands have open are cancelled (the PIN dialog on the isolated desktop and
  // its message boxes too), and the window is destroyed once the handler that opened them returns; the
  // shutdown then takes the MY entries out and lets the module go.
  void RequestTerminate();
  const WindowGate& Gate() const { return *gate_; }
  size_t HeldCount() const { return held_.Count(); }
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
  // Loads the module; a failure is reported once and tried again later (kLoadRetryTimer).
  bool LoadModule();
  void OnLoadRetryTimer();
  // What follows a loaded module: the start-up reading, the monitor, the tray icon, the worker, the tree.
  bool StartTokenWork();
  bool StartMonitor();
  // True when the timer's round must not run now: held while the gate holds, dropped once it is closed.
  bool HoldTimerRound(UINT_PTR id);
  void RunTimerRound(UINT_PTR id);
  // Runs the held work, oldest first, while the gate lets windows open.
  void ReplayHeld();
  std::wstring ReadyTip() const;
  void EndWithCancel();
  void ShowCentred();
  void CentreAndRaise();
  void AddTrayIconUnlessQuiet();
  void RebuildTree();

  // Token events (cert_manager_events.cpp). OnTokenEvent holds what the gate does not let through;
  // HandleTokenEvent carries an event out.
  void OnTokenEvent(WPARAM wp, LPARAM lp);
  void HandleTokenEvent(WPARAM wp, LPARAM lp);
  // `attempt` counts the reads of this insertion that failed before.
  void OnTokenInserted(unsigned long key, int attempt = 0);
  // Reads every present token afresh; those that could not be read whole are read again as an insertion's.
  void ReadAllTokens();
  void OnInsertRetryTimer();
  void OnTokenRemoved(unsigned long key);
  void OnProgress(WORD code, unsigned long key, LPARAM extra);
  void QueueObjectEvent(unsigned long key, WORD code, LPARAM extra);
  void PerformObjectEvent(const TokenEventWorker::Event& e);

  // The commands of the buttons (cert_manager_commands.cpp).
  void OnViewCertificate();
  void OnRenameToken();
  void OnDeviceInfo();

  // Forced PIN change: a token that demands a new PIN gets the change-PIN flow at once, or, when another
  // change is under way, as soon as that one returns.
  void RunForcedPinChangeCheck(unsigned long key);
  void RunWaitingForcedChanges();
  // The change-PIN command (pin_command.cpp): 1 when cancelled, else the result it reported.
  long ChangePin(unsigned long key, bool forced);
  CK_RV ReadPinInfo(unsigned long key, CK_BYTE* out4);
  // True when the token says no user-PIN try is left.
  bool PinBlocked(unsigned long key);

  // While the PIN dialog runs on the isolated desktop, the gate holds (see OnTokenEvent).
  void OnIsolatedRun(unsigned long key, bool started);

  HINSTANCE instance_ = nullptr;
  DialogServices services_;
  std::wstring messageCaption_;
  HICON icon_ = nullptr;  // a shared resource icon: the system owns it
  DialogDpiScaler dpi_;
  UINT instanceMessage_ = 0;
  bool quiet_ = false;
  std::atomic<bool> exit_{false};
  std::shared_ptr<WindowGate> gate_;
  HeldWork held_;
  bool replaying_ = false;
  ReadAgainSchedule reads_;
  bool moduleReady_ = false;
  int loadFailures_ = 0;
  bool polling_ = false;  // the monitor polls the slots: its event wait keeps failing

  TrayIcon tray_;
  CertTree tree_;
  TokenEventWorker worker_;
  PromptWatcher watcher_;
  UsageReminders reminders_;
  OpenTokenDialogs tokenDialogs_;
  std::set<unsigned long> announced_;                  // tokens whose insertion the user was told of
  int handlerDepth_ = 0;
  bool terminatePending_ = false;
  int pinChanges_ = 0;                          // PIN changes under way (nested in each other's loops)
  std::deque<unsigned long> forcedWaiting_;     // forced changes that met one, in the order they came
};

}  // namespace vd
