// The notification windows the main dialog drives: the per-token usage popup above the taskbar, the
// balloon window used where the shell has none, and the small dialogs opened from the tray and the
// buttons. Behind an interface so that the dialog's tests can count what it asked for.
#pragma once

#include <windows.h>

#include <ctime>
#include <memory>
#include <string>

namespace vd {

class UsagePopup {
 public:
  virtual ~UsagePopup() = default;
  virtual std::time_t StartTime() const = 0;  // when the token was taken up
  virtual void ShowReminder(const std::wstring& text) = 0;
};

class BalloonSink {
 public:
  virtual ~BalloonSink() = default;
  virtual void ShowBalloon(const std::wstring& text, int seconds) = 0;
};

class PopupPort {
 public:
  virtual ~PopupPort() = default;
  virtual std::unique_ptr<UsagePopup> CreateUsagePopup(HWND owner, std::time_t start) = 0;
  virtual std::unique_ptr<BalloonSink> CreateBalloon(HWND owner) = 0;
  virtual void ShowAbout(HWND owner) = 0;
  // Runs the Set Notifier dialog; on OK reports whether reminders are on and their interval.
  virtual bool RunSetNotifier(HWND owner, bool* enabled, unsigned* minutes) = 0;
};

std::unique_ptr<PopupPort> MakeDefaultPopupPort();

}  // namespace vd
