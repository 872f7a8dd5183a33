// The main window's icon in the notification area: added while a token is present, its busy animation
// while the token works, its menu, and the notifications it carries (or the balloon window carries, on
// shells without balloons). Dialog thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "popup_port.h"

namespace vd {

class TrayIcon {
 public:
  using Observer = std::function<void(const std::wstring& text, int seconds)>;

  // The hidden main window owns the icon: the shell reports to it and its timer drives the animation.
  void Attach(HWND owner, Observer observer);
  // Where the shell has no balloons, the balloon window takes the notifications.
  void SetBalloon(std::unique_ptr<BalloonSink> balloon) { balloon_ = std::move(balloon); }
  void DestroyBalloon() { balloon_.reset(); }
  bool HasBalloon() const { return balloon_ != nullptr; }

  void Add(const std::wstring& tip);
  // A new tip for the icon shown.
  void SetTip(const std::wstring& tip);
  void Remove();
  bool Shown() const { return shown_; }
  int State() const { return state_; }

  // Busy: the two busy images alternate on the owner's busy timer until EndBusy.
  void BeginBusy();
  void EndBusy();
  void OnBusyTimer();

  // Shown for `seconds`; nothing while the icon is not shown. An empty text closes a shown balloon.
  void ShowNotification(const std::wstring& text, int seconds);

  // The shell's message for our icon, in either layout (see DecodeTrayCallback): true when the user asked
  // for the window (double click). A right click, the menu key or Enter on the focused icon shows the
  // menu, whose choice comes back to the owner as WM_COMMAND.
  bool OnCallback(WPARAM wp, LPARAM lp);

  // The shell restarted and forgot every icon (the "TaskbarCreated" broadcast).
  bool IsTaskbarCreated(UINT message) const { return taskbarCreated_ != 0 && message == taskbarCreated_; }

 private:
  void SetState(int state);
  // At the anchor the shell gave, else at the pointer.
  void ShowMenu(const POINT* anchor, bool fromKeyboard);

  HWND owner_ = nullptr;
  Observer observer_;
  std::unique_ptr<BalloonSink> balloon_;
  UINT taskbarCreated_ = 0;
  bool shown_ = false;
  int state_ = 1;
  UINT version_ = 0;  // the shell's callback version the icon was given; 0 the oldest
};

}  // namespace vd
