// The thread that carries out the token's object events (created, destroyed, changed) away from the
// dialog thread, so that reading and registering a certificate never freezes the window. The dialog
// queues; the worker takes the oldest entry, performs it and asks the dialog to rebuild its tree.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>

#include "handles.h"
#include "worker_thread.h"

namespace vd {

class TokenEventWorker {
 public:
  struct Event {
    unsigned long key;
    WORD code;
    LPARAM extra;
  };
  using Perform = std::function<void(const Event&)>;

  ~TokenEventWorker() { Stop(); }

  // The wake and stop events (auto-reset, unnamed); false, with neither kept, when one cannot be made.
  bool CreateEvents();
  // Starts the thread; `perform` runs on it, and `doneMessage` is posted to `notify` after each entry.
  bool Start(Perform perform, HWND notify, UINT doneMessage);
  bool Running() const { return worker_.IsRunning(); }

  // Queues the event and wakes the worker; false when the worker does not run (the caller performs it).
  bool Queue(const Event& e);
  size_t QueuedCount();

  // Shutdown, in this order: signal the stop event, wait for the thread, close the events.
  void SignalStop();
  void Stop();
  void CloseEvents();

 private:
  static unsigned __stdcall Routine(void* selfSlot);
  void Run(WorkerThread* self);

  WorkerThread worker_;
  UniqueKernelHandle work_;
  UniqueKernelHandle stop_;
  CriticalSection lock_;
  std::deque<Event> queue_;
  Perform perform_;
  HWND notify_ = nullptr;
  UINT doneMessage_ = 0;
};

}  // namespace vd
