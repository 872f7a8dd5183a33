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
// The pause before the next read doubles with every failed one, up to this many times the first.
constexpr UINT kMaxRetryFactor = 60;

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
  // While the PIN dialog is on the isolated desktop, what an event opens (the expiry warning, another
  // token's forced change) would open on the home desktop, out of the user's sight, and the run could not
  // end until it closed. Events wait for the switch back; the pull of the token being changed ends the
  // dialog at once.
  if (isolatedRunKey_ && !(code == TOKEN_EVT_REMOVED && key == *isolatedRunKey_)) {
    heldEvents_.emplace_back(wp, lp);
    return;
  }
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
  if (e.code == TOKEN_EVT_OBJECT_CREATED) services_.tokens->OnObjectCreated(e.key, object);
  if (e.code == TOKEN_EVT_OBJECT_DESTROYED) services_.tokens->OnObjectDestroyed(e.key, object);
}

void CertManagerDlg::OnTokenInserted(unsigned long key, int attempt) {
  const TokenRead read = services_.tokens->OnTokenInserted(key, attempt >= kInsertRetries);
  if (read == TokenRead::kWhole) {
    pendingReads_.erase(key);
    ArmReadTimer();
  } else {
    ScheduleRead(key, attempt + 1);
  }
  // A read again tells the user only of a token it listed first: a retry that changed nothing must not
  // keep the tray icon of a token that is gone, nor announce the token twice.
  const bool listed = read != TokenRead::kFailed && services_.tokens->HasToken(key);
  if (listed && (attempt == 0 || announced_.count(key) == 0)) {
    ::KillTimer(hwnd_, kTrayRemovalTimer);
    if (!tray_.Shown() && !quiet_) tray_.Add(Text(ui_text::kReadyTip));
    tray_.ShowNotification(Text(ui_text::kInserted), kNotificationSeconds);
    announced_.insert(key);
    const unsigned pulls = removals_[key];
    RunForcedPinChangeCheck(key);
    // Pulled while its PIN was being changed: the token is gone, and so is its reminder.
    if (removals_[key] != pulls) return;
  }
  if (attempt == 0) reminders_.AddToken(key);
}

void CertManagerDlg::ReadAllTokens() {
  for (unsigned long unread : services_.tokens->EnumerateTokens(false)) ScheduleRead(unread, 1);
}

void CertManagerDlg::ScheduleRead(unsigned long key, int failedReads) {
  const UINT first = services_.insertRetryDelayMs;
  const int doublings = std::min(failedReads - 1, 16);
  const UINT delay = std::min(first << doublings, first * kMaxRetryFactor);
  pendingReads_[key] = {failedReads, ::GetTickCount() + delay};
  ArmReadTimer();
}

void CertManagerDlg::ArmReadTimer() {
  ::KillTimer(hwnd_, kInsertRetryTimer);
  if (pendingReads_.empty()) return;
  const DWORD now = ::GetTickCount();
  LONG soonest = LONG_MAX;
  for (const auto& [key, pending] : pendingReads_)
    soonest = std::min(soonest, static_cast<LONG>(pending.due - now));
  ::SetTimer(hwnd_, kInsertRetryTimer, static_cast<UINT>(std::max<LONG>(soonest, USER_TIMER_MINIMUM)), nullptr);
}

void CertManagerDlg::OnInsertRetryTimer() {
  ::KillTimer(hwnd_, kInsertRetryTimer);
  const std::vector<TokenView> before = services_.tokens->Snapshot();
  const DWORD now = ::GetTickCount();
  std::vector<std::pair<unsigned long, int>> due;
  for (const auto& [key, pending] : pendingReads_)
    if (static_cast<LONG>(pending.due - now) <= 0) due.emplace_back(key, pending.failedReads);
  for (const auto& [key, failedReads] : due) {
    // A pull while an earlier read announced the token ends its reads (OnTokenRemoved).
    if (pendingReads_.count(key)) OnTokenInserted(key, failedReads);
  }
  ArmReadTimer();
  // Rebuilding loses the selection: only for a list that changed.
  if (services_.tokens->Snapshot() != before) RebuildTree();
}

void CertManagerDlg::OnIsolatedRun(unsigned long key, bool started) {
  if (started) {
    isolatedRunKey_ = key;
    return;
  }
  isolatedRunKey_.reset();
  // Handled in their order once the home desktop is on screen again.
  for (const auto& [wp, lp] : heldEvents_) ::PostMessageW(hwnd_, kTokenEventMessage, wp, lp);
  heldEvents_.clear();
}

void CertManagerDlg::OnTokenRemoved(unsigned long key) {
  pendingReads_.erase(key);
  ArmReadTimer();
  announced_.erase(key);
  ++removals_[key];
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
  if (!services_.tokens->IsPinChangeRequired(key)) return;
  // A wrong old PIN asks again; anything that goes wrong inside the flow ends the check quietly, since it
  // runs from timers and event handlers that have nobody to report to.
  try {
    // Until the token is blocked: past the last try the dialog has nothing left to ask.
    while (ChangePin(key, true) == static_cast<long>(CKR_PIN_INCORRECT) && !PinBlocked(key)) {
    }
  } catch (...) {
  }
}


}  // namespace vd
