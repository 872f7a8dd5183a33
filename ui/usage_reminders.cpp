#include "usage_reminders.h"

#include <cstdio>
#include <ctime>

#include "main_ids.h"
#include "notifier_settings.h"

namespace vd {

namespace {

constexpr UINT kMsPerMinute = 60000;

}  // namespace

void UsageReminders::Attach(HWND owner, PopupPort* popups) {
  owner_ = owner;
  factory_ = popups;
}

void UsageReminders::OnSettings(bool on, unsigned minutes) {
  if (minutes != 0) {
    ::KillTimer(owner_, kReminderTimer);
    intervalMs_ = 0;
    if (on) Start(minutes * kMsPerMinute);
    return;
  }
  std::optional<NotifierSettings> stored = LoadNotifierSettings();
  if (stored && stored->enabled) Start(stored->minutes * kMsPerMinute);
}

void UsageReminders::Start(UINT intervalMs) {
  ::SetTimer(owner_, kReminderTimer, intervalMs, nullptr);
  intervalMs_ = intervalMs;
}

void UsageReminders::OnTimer() {
  std::time_t now = std::time(nullptr);
  for (auto& [key, popup] : popups_) {
    char line[64];
    std::snprintf(line, sizeof line, "timer: %lu\n", key);
    ::OutputDebugStringA(line);
    popup->ShowReminder(UsageReminderText(UsageMinute(now - popup->StartTime())));
  }
}

void UsageReminders::AddToken(unsigned long key) {
  if (popups_.count(key)) return;
  std::unique_ptr<UsagePopup> popup = factory_->CreateUsagePopup(owner_, std::time(nullptr));
  if (popup) popups_.emplace(key, std::move(popup));
}

bool UsageReminders::RemoveToken(unsigned long key) { return popups_.erase(key) > 0; }

void UsageReminders::Release() {
  ::KillTimer(owner_, kReminderTimer);
  intervalMs_ = 0;
  popups_.clear();
}

}  // namespace vd
