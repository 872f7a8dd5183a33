// The one owner of whether the main window's work may open a window now. Every path that opens one (the
// expiry warnings, the forced PIN change and the PIN check, the read-again timer, the reminders, the
// message boxes) asks it. A terminate request closes it for good; while the PIN dialog runs on the
// isolated desktop it holds, since a window opened meanwhile would open on the home desktop, out of the
// user's sight, and the run could not end until it closed. Held work waits in HeldWork, in its order.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <optional>

#include "expiry.h"

namespace vd {

// Messages and timers of the main window's own work queues (beside main_ids.h's).
constexpr UINT kReplayHeldMessage = WM_APP + 2;      // the home desktop is back: run what was held
constexpr UINT kReadAgainMessage = WM_APP + 3;       // wParam = token key: read the token again (any thread)
constexpr UINT kForcedChangesMessage = WM_APP + 4;   // a PIN change ended: run the forced ones that waited
constexpr UINT_PTR kLoadRetryTimer = 2010;           // the module's C_Initialize is tried again

class WindowGate {
 public:
  bool MayOpen() const { return !closed_ && !isolatedKey_; }
  bool Closed() const { return closed_; }
  bool Holding() const { return !closed_ && isolatedKey_.has_value(); }
  // A terminate is pending: no window opens again in this run.
  void Close() { closed_ = true; }
  void BeginIsolatedRun(unsigned long key) { isolatedKey_ = key; }
  void EndIsolatedRun() { isolatedKey_.reset(); }
  // The token whose PIN is being changed on the isolated desktop.
  std::optional<unsigned long> IsolatedRunKey() const { return isolatedKey_; }

 private:
  bool closed_ = false;
  std::optional<unsigned long> isolatedKey_;
};

// The expiry warning behind the gate: while it does not let a window open, the warning is not shown (and
// the box, unticked, turns no warning off).
ExpiryPrompt GatedExpiryPrompt(std::shared_ptr<const WindowGate> gate, ExpiryPrompt prompt);

// The window's work that met a holding gate: token events and timer rounds, replayed oldest first once the
// gate opens. A timer's round waits once, however often the timer fired meanwhile.
class HeldWork {
 public:
  struct Item {
    bool timer = false;
    WPARAM wp = 0;  // the event's wParam, or the timer id
    LPARAM lp = 0;
  };
  void HoldEvent(WPARAM wp, LPARAM lp) { items_.push_back({false, wp, lp}); }
  void HoldTimer(UINT_PTR id);
  bool Empty() const { return items_.empty(); }
  size_t Count() const { return items_.size(); }
  std::optional<Item> Next();
  void Clear() { items_.clear(); }

 private:
  std::deque<Item> items_;
};

}  // namespace vd
