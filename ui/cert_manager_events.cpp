// The main window's handling of token events: insertion and removal, the object events the worker carries
// out, the label change, and the progress the module reports while it works on a token.
#include <algorithm>
#include <cstdio>

#include "cert_manager_dlg.h"
#include "pkcs11.h"
#include "ui_texts.h"

namespace vd {

namespace {

constexpr int kNotificationSeconds = 10;
// A token whose read fails at insertion is read again; after this many failed reads it is listed with
// what could be read (and read again still).
constexpr int kInsertRetries = 3;

void Trace(const char* format, unsigned long value) {
  char line[64];
  std::snprintf(line, sizeof line, format, value);
  ::OutputDebugStringA(line);
}

// What a progress code reported by the module does to the tray. Order within a row: a row that begins
// the busy period does so before its text, one that ends it does so after.
struct ProgressRow {
  TokenEventCode code;
  bool beginBusy;
  bool endBusy;
  const TextEntry* text;  // null: no text
  bool namesObject;       // the text takes the name of the object the event's data names
  bool reenumerate;       // the token was re-initialised underneath us
  bool rebuildTree;
};
constexpr ProgressRow kProgress[] = {
    {TOKEN_EVT_BUSY, true, false, nullptr, false, false, false},
    {TOKEN_EVT_IDLE, false, true, nullptr, false, false, false},
    {TOKEN_EVT_SAVING, true, false, &ui_text::kSaving, true, false, false},
    {TOKEN_EVT_SAVING_OK, false, true, &ui_text::kSaved, true, false, false},
    {TOKEN_EVT_SAVING_FAILED, false, true, &ui_text::kSaveFailed, true, false, false},
    {TOKEN_EVT_KEYGEN, true, false, &ui_text::kGeneratingKeys, false, false, false},
    {TOKEN_EVT_KEYGEN_OK, false, true, &ui_text::kKeysGenerated, false, false, false},
    {TOKEN_EVT_KEYGEN_FAILED, false, true, &ui_text::kKeyGenerationFailed, false, false, false},
    {TOKEN_EVT_LOWLEVEL_INIT, true, false, &ui_text::kLowLevelInitializing, false, false, true},
    {TOKEN_EVT_LOWLEVEL_INIT_OK, false, true, &ui_text::kLowLevelInitialized, false, true, true},
    {TOKEN_EVT_LOWLEVEL_INIT_FAILED, false, true, &ui_text::kLowLevelInitFailed, false, true, true},
    {TOKEN_EVT_INIT, true, false, &ui_text::kInitializing, false, false, true},
    {TOKEN_EVT_INIT_OK, false, true, &ui_text::kInitialized, false, false, true},
    {TOKEN_EVT_INIT_FAILED, false, true, &ui_text::kInitFailed, false, false, true},
};

struct ObjectName {
  TokenSavedObject object;
  const TextEntry* text;
};
constexpr ObjectName kObjectNames[] = {
    {TOKEN_OBJ_CERTIFICATE, &ui_text::kCertificate},
    {TOKEN_OBJ_PUBLIC_KEY, &ui_text::kPublicKey},
    {TOKEN_OBJ_PRIVATE_KEY, &ui_text::kPrivateKey},
};

const ProgressRow* FindProgress(WORD code) {
  auto it = std::find_if(std::begin(kProgress), std::end(kProgress),
                         [code](const ProgressRow& r) { return r.code == code; });
  return it == std::end(kProgress) ? nullptr : it;
}

}  // namespace

void CertManagerDlg::OnTokenEvent(WPARAM wp, LPARAM lp) {
  const WORD code = TokenEventCodeOf(wp);
  const unsigned long key = TokenEventSlotOf(wp);
  // The program is ending: its shutdown takes every registration out.
  if (gate_->Closed()) return;
  // While the PIN dialog is on the isolated desktop, events wait for the switch back; the pull of the token
  // being changed ends the dialog at once. Events that arrive while held ones wait go behind them, so that
  // a held removal never lands after a newer insertion.
  const bool pullOfRunToken = code == TOKEN_EVT_REMOVED && gate_->IsolatedRunKey() == key;
  if (!pullOfRunToken && (gate_->Holding() || !held_.Empty())) {
    held_.HoldEvent(wp, lp);
    return;
  }
  HandleTokenEvent(wp, lp);
}

void CertManagerDlg::HandleTokenEvent(WPARAM wp, LPARAM lp) {
  const WORD code = TokenEventCodeOf(wp);
  const unsigned long key = TokenEventSlotOf(wp);
  switch (code) {
    case TOKEN_EVT_INSERTED:
      OnTokenInserted(key);
      RebuildTree();
      return;
    case TOKEN_EVT_REMOVED:
      OnTokenRemoved(key);
      RebuildTree();
      return;
    case TOKEN_EVT_OBJECT_CREATED:
    case TOKEN_EVT_OBJECT_DESTROYED:
    case TOKEN_EVT_OBJECT_CHANGED:
      QueueObjectEvent(key, code, lp);
      return;
    case TOKEN_EVT_LABEL_CHANGED:
      services_.tokens->RefreshLabel(key);
      for (const TokenView& t : services_.tokens->Snapshot()) {
        if (t.key == key) tree_.SetTokenLabel(key, t.label);
      }
      return;
    case kMonitorPollingCode:
      // Said once: the monitor reports the fall-back once, and the tip stays while the program runs.
      polling_ = true;
      if (tray_.Shown()) tray_.SetTip(ReadyTip());
      return;
    default:
      if (FindProgress(code)) OnProgress(code, key, lp);
      return;
  }
}

void CertManagerDlg::OnProgress(WORD code, unsigned long key, LPARAM extra) {
  const ProgressRow& row = *FindProgress(code);
  if (row.beginBusy) tray_.BeginBusy();
  if (row.text) {
    if (!row.namesObject) {
      tray_.ShowNotification(Text(*row.text), kNotificationSeconds);
    } else {
      for (const ObjectName& n : kObjectNames) {
        if (static_cast<LPARAM>(n.object) != extra) continue;
        const std::wstring name = Text(*n.text);
        tray_.ShowNotification(FormatText(*row.text, {name.c_str()}), kNotificationSeconds);
      }
    }
  }
  if (row.endBusy) tray_.EndBusy();
  if (row.reenumerate) {
    services_.tokens->UnregisterTokenCertificates(key);
    ReadAllTokens();
  }
  if (row.rebuildTree) RebuildTree();
}

void CertManagerDlg::QueueObjectEvent(unsigned long key, WORD code, LPARAM extra) {
  // Before the worker runs (or when it could not start) the dialog thread does the work itself.
  if (!worker_.Queue({key, code, extra})) PerformObjectEvent({key, code, extra});
}

void CertManagerDlg::PerformObjectEvent(const TokenEventWorker::Event& e) {
  auto object = static_cast<unsigned long>(e.extra);
  // On the worker's thread (or the window's): a token that could not be read for the event is read again,
  // which the window schedules.
  if (e.code == TOKEN_EVT_OBJECT_CREATED && !services_.tokens->OnObjectCreated(e.key, object))
    ::PostMessageW(hwnd_, kReadAgainMessage, e.key, 0);
  if (e.code == TOKEN_EVT_OBJECT_DESTROYED) services_.tokens->OnObjectDestroyed(e.key, object);
}

void CertManagerDlg::OnTokenInserted(unsigned long key, int attempt) {
  const TokenRead read = services_.tokens->OnTokenInserted(key, attempt >= kInsertRetries);
  if (read == TokenRead::kWhole)
    reads_.Cancel(key);
  else
    reads_.Schedule(key, attempt + 1);
  // A read again tells the user only of a token it listed first: a retry that changed nothing must not
  // keep the tray icon of a token that is gone, nor announce the token twice.
  const bool listed = read != TokenRead::kFailed && services_.tokens->HasToken(key);
  if (listed && (attempt == 0 || announced_.count(key) == 0) && !gate_->Closed()) {
    ::KillTimer(hwnd_, kTrayRemovalTimer);
    if (!tray_.Shown() && !quiet_) tray_.Add(ReadyTip());
    tray_.ShowNotification(Text(ui_text::kInserted), kNotificationSeconds);
    announced_.insert(key);
    RunForcedPinChangeCheck(key);
  }
  // The insertion's work (the expiry warning, the forced change) lets other events in: a token pulled
  // meanwhile is no longer listed, and gets no reminder.
  if (attempt == 0 && !gate_->Closed() && services_.tokens->HasToken(key)) reminders_.AddToken(key);
}

void CertManagerDlg::ReadAllTokens() {
  const TokenEnumeration e = services_.tokens->EnumerateTokens(false);
  for (unsigned long unread : e.unread) reads_.Schedule(unread, 1);
  if (!e.slotsListed) reads_.Schedule(ReadAgainSchedule::kEveryToken, 1);
}

void CertManagerDlg::OnInsertRetryTimer() {
  const std::vector<TokenView> before = services_.tokens->Snapshot();
  for (const auto& [key, failedReads] : reads_.Due()) {
    // A pull while an earlier read announced the token ends its reads (OnTokenRemoved).
    if (!reads_.Pending(key)) continue;
    if (key == ReadAgainSchedule::kEveryToken) {
      reads_.Cancel(key);
      const TokenEnumeration e = services_.tokens->EnumerateTokens(false);
      for (unsigned long unread : e.unread) reads_.Schedule(unread, 1);
      if (!e.slotsListed) reads_.Schedule(key, failedReads + 1);
      continue;
    }
    OnTokenInserted(key, failedReads);
    // The read's windows may have let a terminate in.
    if (gate_->Closed()) return;
  }
  reads_.Arm();
  // Rebuilding loses the selection: only for a list that changed.
  if (services_.tokens->Snapshot() != before) RebuildTree();
}

void CertManagerDlg::OnIsolatedRun(unsigned long key, bool started) {
  if (started) {
    gate_->BeginIsolatedRun(key);
    return;
  }
  gate_->EndIsolatedRun();
  // Carried out in their order once the home desktop is on screen again, before anything newer.
  if (!held_.Empty()) ::PostMessageW(hwnd_, kReplayHeldMessage, 0, 0);
}

void CertManagerDlg::OnTokenRemoved(unsigned long key) {
  reads_.Cancel(key);
  announced_.erase(key);
  if (services_.tokens->HasToken(key)) tray_.ShowNotification(Text(ui_text::kRemoved), kNotificationSeconds);
  tokenDialogs_.EndFor(key);
  services_.tokens->OnTokenRemoved(key);
  if (!services_.tokens->HasAnyToken()) {
    ::SetTimer(hwnd_, kTrayRemovalTimer, services_.trayRemovalDelayMs, nullptr);
    tray_.EndBusy();
    ::ShowWindow(hwnd_, SW_HIDE);
  }
  Trace("OnTokenRemove: %lu\n", key);
  if (reminders_.RemoveToken(key)) Trace("OnTokenRemove: %lu\n", key);
}

void CertManagerDlg::RunForcedPinChangeCheck(unsigned long key) {
  if (gate_->Closed() || !services_.tokens->IsPinChangeRequired(key)) return;
  // One change at a time: a token that demands a new PIN while another change is open gets its own as soon
  // as that one returns.
  if (pinChanges_ > 0) {
    if (std::find(forcedWaiting_.begin(), forcedWaiting_.end(), key) == forcedWaiting_.end())
      forcedWaiting_.push_back(key);
    return;
  }
  // A wrong old PIN asks again; anything that goes wrong inside the flow ends the check quietly, since it
  // runs from timers and event handlers that have nobody to report to.
  try {
    // Until the token is blocked (past the last try the dialog has nothing left to ask), or the program
    // is told to end.
    while (ChangePin(key, true) == static_cast<long>(CKR_PIN_INCORRECT) && !gate_->Closed() && !PinBlocked(key)) {
    }
  } catch (...) {
  }
}

void CertManagerDlg::RunWaitingForcedChanges() {
  while (pinChanges_ == 0 && !forcedWaiting_.empty() && gate_->MayOpen()) {
    const unsigned long key = forcedWaiting_.front();
    forcedWaiting_.pop_front();
    if (services_.tokens->HasToken(key)) RunForcedPinChangeCheck(key);
  }
}

}  // namespace vd
