// The small thread wrapper of vardeck's long-running threads (token monitor, token event worker, prompt
// watcher). The routine receives the address of the wrapper's self slot, calls Begin first, polls
// StopRequested in its loop and returns End(code) last.
#pragma once

#include <windows.h>

#include <atomic>

#include "handles.h"

namespace vd {

class WorkerThread {
 public:
  using Routine = unsigned(__stdcall*)(void* selfSlot);
  // Asked to end the thread; true means it has, false means it must be killed.
  using StopCallback = bool (*)(void* userData);

  WorkerThread() = default;
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // 0 when the thread started, 1 when it could not (running stays clear).
  int Start(Routine routine, StopCallback stop, void* userData);
  static WorkerThread* FromArg(void* selfSlot) { return *static_cast<WorkerThread**>(selfSlot); }

  // Called by the routine.
  void Begin();
  unsigned End(unsigned code);
  bool StopRequested() const { return stopRequested_.load(); }
  void* UserData() const { return userData_; }

  // Asks the thread to end and waits up to timeoutMs (INFINITE waits for ever); kills it after that.
  void Stop(DWORD timeoutMs);
  void Kill();

  bool IsRunning() const { return running_.load(); }
  DWORD ThreadId() const { return threadId_; }
  int ExitCode() const { return exitCode_.load(); }

 private:
  void CloseThreadHandle(DWORD waitMs);

  UniqueThread thread_;
  DWORD threadId_ = 0;
  std::atomic<int> exitCode_{-1};
  StopCallback stop_ = nullptr;
  void* userData_ = nullptr;
  WorkerThread* self_ = this;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> running_{false};
};

}  // namespace vd
