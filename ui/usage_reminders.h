// The usage-time reminders: one popup per present token, and the timer that shows, every few minutes, how
// long each token has been in use. The interval comes from the per-user settings (Set Notifier).
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "popup_port.h"

namespace vd {

class UsageReminders {
 public:
  // The owner's reminder timer drives the reminders; `popups` makes the popups.
  void Attach(HWND owner, PopupPort* popups);

  // The settings message: minutes 0 applies the stored settings (nothing stored keeps the timer as it is);
  // otherwise the timer stops and, when `on`, runs again every `minutes`.
  void OnSettings(bool on, unsigned minutes);
  void OnTimer();

  // The first popup of a token stays, so its start time counts from the first insertion.
  void AddToken(unsigned long key);
  // True when the token had a popup.
  bool RemoveToken(unsigned long key);

  size_t Count() const { return popups_.size(); }
  UINT IntervalMs() const { return intervalMs_; }
  // Shutdown: the timer stops and the popups go.
  void Release();

 private:
  void Start(UINT intervalMs);

  HWND owner_ = nullptr;
  PopupPort* factory_ = nullptr;
  std::map<unsigned long, std::unique_ptr<UsagePopup>> popups_;  // ascending token key: the order they speak in
  UINT intervalMs_ = 0;
};

}  // namespace vd
