// The tokens the main window reads again later: those whose reads failed or came back in part, those an
// object event could not be carried out for, and the whole list after a slot list that could not be had.
// Each waits twice as long as before after every failed read, up to 60 times the first pause; one timer
// of the owner wakes for the soonest.
#pragma once

#include <windows.h>

#include <map>
#include <utility>
#include <vector>

namespace vd {

// 1, 2, 4 ... times `first`, at most 60 times: the pause after `failures` failed attempts (1 or more).
UINT BackoffDelay(UINT first, int failures);

class ReadAgainSchedule {
 public:
  // Stands for every token: the whole list is read again.
  static constexpr unsigned long kEveryToken = 0xFFFFFFFFul;

  void Attach(HWND owner, UINT_PTR timerId) {
    owner_ = owner;
    timerId_ = timerId;
  }
  void SetFirstDelay(UINT ms) { firstMs_ = ms; }

  // Due after BackoffDelay(first, failedReads); replaces what was scheduled for the key.
  void Schedule(unsigned long key, int failedReads);
  void Cancel(unsigned long key);
  bool Pending(unsigned long key) const { return pending_.count(key) > 0; }
  bool Empty() const { return pending_.empty(); }
  // The keys due now, with their failed reads so far, in key order. They stay scheduled until the caller
  // schedules or cancels them.
  std::vector<std::pair<unsigned long, int>> Due() const;
  // Sets the owner's timer for the soonest, or kills it when nothing waits.
  void Arm();
  void Clear();

 private:
  struct Entry {
    int failedReads = 0;
    DWORD due = 0;  // GetTickCount of the read
  };
  HWND owner_ = nullptr;
  UINT_PTR timerId_ = 0;
  UINT firstMs_ = 1000;
  std::map<unsigned long, Entry> pending_;
};

}  // namespace vd
