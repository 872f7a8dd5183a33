// Token events on the dialog thread, the queue the event worker drains, and the usage reminders.
#include <cstdio>
#include <cwchar>

#include "cert_manager_dlg.h"
#include "main_ids.h"
#include "platform_bridge.h"
#include "notifier_settings.h"

namespace vd {

namespace {

constexpr int kNotificationSeconds = 10;

void Trace(const char* format, unsigned long value) {
  char line[64];
  std::snprintf(line, sizeof line, format, value);
  ::OutputDebugStringA(line);
}

// What a progress code reported by the module does to the tray. Order within a row: a row that begins
// the busy period does so before its text, one that ends it does so after.
struct ProgressRow {
  WORD code;
  bool beginBusy;
  bool endBusy;
  int textId;  // 0: no text
  const wchar_t* text;
  bool namesObject;    // the text takes the object name of the extra value 1..3
  bool reenumerate;    // the token was re-initialised underneath us
  bool rebuildTree;
};
constexpr ProgressRow kProgress[] = {
    {256, true, false, 0, nullptr, false, false, false},
    {257, false, true, 0, nullptr, false, false, false},
    {258, false, false, 0, nullptr, false, false, false},
    {259, true, false, 10005, L"Saving %s, please wait...", true, false, false},
    {260, false, true, 10006, L"%s is saved successfully!", true, false, false},
    {261, false, true, 10007, L"Failed to save %s!", true, false, false},
    {262, true, false, 10008, L"Generating key pair, please wait...", false, false, false},
    {263, false, true, 10009, L"Generated key pair successfully!", false, false, false},
    {264, false, true, 10010, L"Failed to generated key pair!", false, false, false},
    {265, true, false, 10011, L"Low level initializing the USBKey, please wait...", false, false, true},
    {266, false, true, 10012, L"USBKey is Low level initialized successfully!", false, true, true},
    {267, false, true, 10013, L"Failed to low loevel initialize USBKey!", false, true, true},
    {268, true, false, 10014, L"initializing the USBKey, please wait...", false, false, true},
    {269, false, true, 10015, L"USBKey is initialized successfully!", false, false, true},
    {270, false, true, 10016, L"Failed to initialize USBKey!", false, false, true},
};

struct ObjectName {
  LPARAM extra;
  int id;
  const wchar_t* text;
};
constexpr ObjectName kObjectNames[] = {
    {1, 10004, L"Certificate"},
    {2, 10002, L"Public Key"},
    {3, 10003, L"Private Key"},
};

}  // namespace

void CertManagerDlg::OnTokenEvent(WPARAM wp, LPARAM lp) {
  WORD code = LOWORD(wp);
  unsigned long key = HIWORD(wp);
  switch (code) {
    case 1:
      OnTokenInserted(key);
      RebuildTree();
      return;
    case 2:
      OnTokenRemoved(key);
      RebuildTree();
      return;
    case 3:
    case 4:
    case 5:
      QueueObjectEvent(key, code, lp);
      return;
    case 8:
      services_.tokens->RefreshLabel(key);
      UpdateTokenLabel(key);
      return;
    default:
      if (code >= 256 && code <= 270) OnProgress(code, key, lp);
      return;
  }
}

void CertManagerDlg::OnProgress(WORD code, unsigned long key, LPARAM extra) {
  const ProgressRow& row = kProgress[code - 256];
  if (row.beginBusy) BeginBusy();
  if (row.textId != 0) {
    if (!row.namesObject) {
      ShowNotification(Text(row.textId, row.text), kNotificationSeconds);
    } else {
      for (const ObjectName& n : kObjectNames) {
        if (n.extra == extra) {
          ShowNotification(FormatText(row.textId, row.text, Text(n.id, n.text).c_str()), kNotificationSeconds);
        }
      }
    }
  }
  if (row.endBusy) EndBusy();
  if (row.reenumerate) {
    services_.tokens->UnregisterTokenCertificates(key);
    services_.tokens->EnumerateTokens(false);
  }
  if (row.rebuildTree) RebuildTree();
}

void CertManagerDlg::QueueObjectEvent(unsigned long key, WORD code, LPARAM extra) {
  if (!worker_.IsRunning()) {
    PerformObjectEvent({key, code, extra});
    return;
  }
  {
    CsLock lock(queueLock_);
    queue_.push_back({key, code, extra});
  }
  ::SetEvent(workEvent_.get());
}

void CertManagerDlg::PerformObjectEvent(const QueuedEvent& e) {
  auto object = static_cast<unsigned long>(e.extra);
  if (e.code == 3) services_.tokens->OnObjectCreated(e.key, object);
  if (e.code == 4) services_.tokens->OnObjectDestroyed(e.key, object);
}

unsigned __stdcall CertManagerDlg::WorkerRoutine(void* selfSlot) {
  WorkerThread* self = WorkerThread::FromArg(selfSlot);
  static_cast<CertManagerDlg*>(self->UserData())->RunWorker(self);
  return self->End(0);
}

void CertManagerDlg::RunWorker(WorkerThread* self) {
  self->Begin();
  HANDLE events[] = {workEvent_.get(), stopEvent_.get()};
  while (!self->StopRequested()) {
    QueuedEvent next{};
    bool have = false;
    {
      CsLock lock(queueLock_);
      if (!queue_.empty()) {
        next = queue_.front();
        queue_.pop_front();
        have = true;
      }
    }
    if (!have) {
      if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) break;
      continue;
    }
    PerformObjectEvent(next);
    // Posted, never sent: the dialog thread may be waiting for this thread to end.
    ::PostMessageW(hwnd_, kRebuildTreeMessage, 0, 0);
    ::Sleep(0);
  }
}

void CertManagerDlg::OnTokenInserted(unsigned long key) {
  services_.tokens->OnTokenInserted(key);
  ::KillTimer(hwnd_, kTrayRemovalTimer);
  if (services_.tokens->HasToken(key)) {
    if (!trayIconShown_ && !quiet_) AddTrayIcon(Text(11000, L"Certificate Register is ready"));
    ShowNotification(Text(10000, L"USBKey is inserted!"), kNotificationSeconds);
    RunForcedPinChangeCheck(key);
  }
  CreateUsageNotifier(key);
}

void CertManagerDlg::CreateUsageNotifier(unsigned long key) {
  if (usageNotifiers_.count(key)) return;  // the first popup of a token stays
  std::unique_ptr<UsagePopup> popup = services_.popups->CreateUsagePopup(hwnd_, std::time(nullptr));
  if (popup) usageNotifiers_.emplace(key, std::move(popup));
}

void CertManagerDlg::OnTokenRemoved(unsigned long key) {
  if (services_.tokens->HasToken(key)) ShowNotification(Text(10001, L"USBkey is removed!"), kNotificationSeconds);
  for (auto* dialogs : {&openPinDialogs_, &openNameDialogs_}) {
    auto it = dialogs->find(key);
    if (it != dialogs->end()) {
      ::EndDialog(it->second, IDCANCEL);
      dialogs->erase(it);
    }
  }
  services_.tokens->OnTokenRemoved(key);
  if (!services_.tokens->HasAnyToken()) {
    ::SetTimer(hwnd_, kTrayRemovalTimer, 5000, nullptr);
    EndBusy();
    ::ShowWindow(hwnd_, SW_HIDE);
  }
  Trace("OnTokenRemove: %lu\n", key);
  if (usageNotifiers_.erase(key)) Trace("OnTokenRemove: %lu\n", key);
}

void CertManagerDlg::OnNotifierSettings(WPARAM on, LPARAM minutes) {
  if (minutes != 0) {
    ::KillTimer(hwnd_, kReminderTimer);
    reminderIntervalMs_ = 0;
    if (on) StartReminders(static_cast<UINT>(minutes) * 60000u);
    return;
  }
  std::optional<NotifierSettings> stored = LoadNotifierSettings();
  if (stored && stored->enabled) StartReminders(stored->minutes * 60000u);
}

void CertManagerDlg::StartReminders(UINT intervalMs) {
  ::SetTimer(hwnd_, kReminderTimer, intervalMs, nullptr);
  reminderIntervalMs_ = intervalMs;
}

void CertManagerDlg::OnReminderTick() {
  std::time_t now = std::time(nullptr);
  for (auto& [key, popup] : usageNotifiers_) {
    Trace("timer: %lu\n", key);
    popup->ShowReminder(services_.popups->ReminderText(UsageMinute(now - popup->StartTime())));
  }
}

DWORD WINAPI CertManagerDlg::PromptWatcherRoutine(void* param) {
  static_cast<CertManagerDlg*>(param)->RunPromptWatcher();
  return 0;
}

namespace {

struct PromptTexts {
  std::wstring prompt;  // text of the new-hardware prompt
  std::wstring title;   // title of the unsafe-removal warning
};

BOOL CALLBACK DismissPrompt(HWND window, LPARAM param) {
  const auto* texts = reinterpret_cast<const PromptTexts*>(param);
  wchar_t title[260] = {};
  if (::GetWindowTextW(window, title, 260) <= 0) return TRUE;
  if (!texts->title.empty() && std::wcsstr(title, texts->title.c_str())) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
  }
  wchar_t text[260] = {};
  ::GetDlgItemTextW(window, 0xFFFF, text, 260);
  if (!texts->prompt.empty() && std::wcsstr(text, texts->prompt.c_str())) {
    ::PostMessageW(window, WM_COMMAND, IDNO, reinterpret_cast<LPARAM>(::GetDlgItem(window, IDNO)));
  }
  return TRUE;
}

}  // namespace

void CertManagerDlg::RunPromptWatcher() {
  if (OsIsVistaOrLater()) return;
  PromptTexts texts;
  if (HMODULE newdev = ::LoadLibraryW(L"newdev.dll")) {
    wchar_t buffer[260] = {};
    if (::LoadStringW(newdev, 2121, buffer, 260) > 0) texts.prompt = buffer;
    ::FreeLibrary(newdev);
  } else {
    std::puts("load dll newdev.dll fail");
  }
  if (OsIsWindows2000()) {
    if (HMODULE hotplug = ::LoadLibraryW(L"hotplug.dll")) {
      if (::FindResourceW(hotplug, MAKEINTRESOURCEW(330), RT_DIALOG)) {
        if (HWND probe = ::CreateDialogParamW(hotplug, MAKEINTRESOURCEW(330), nullptr, nullptr, 0)) {
          wchar_t buffer[260] = {};
          if (::GetWindowTextW(probe, buffer, 260) > 0) texts.title = buffer;
          ::DestroyWindow(probe);
        }
      }
    } else {
      std::puts("load dll hotplug.dll fail");
    }
  }
  if (texts.prompt.empty() && texts.title.empty()) return;
  while (!exit_) {
    ::EnumWindows(DismissPrompt, reinterpret_cast<LPARAM>(&texts));
    ::Sleep(500);
  }
}

}  // namespace vd
