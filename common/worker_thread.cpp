#include "worker_thread.h"

#include <process.h>

namespace vd {

WorkerThread::~WorkerThread() {
  Stop(100000);
  CloseThreadHandle(1000);
}

int WorkerThread::Start(Routine routine, StopCallback stop, void* userData) {
  CloseThreadHandle(1000);  // a thread that ended on its own left its handle behind
  stop_ = stop;
  userData_ = userData;
  running_ = false;
  unsigned id = 0;
  uintptr_t h = _beginthreadex(nullptr, 0, routine, &self_, 0, &id);
  if (h == 0) return 1;
  thread_.reset(reinterpret_cast<HANDLE>(h));
  threadId_ = id;
  return 0;
}

void WorkerThread::Begin() {
  exitCode_ = 0;
  stopRequested_ = false;
  running_ = true;
}

unsigned WorkerThread::End(unsigned code) {
  exitCode_ = static_cast<int>(code);
  running_ = false;
  return code;
}

void WorkerThread::Stop(DWORD timeoutMs) {
  if (!running_) return;
  stopRequested_ = true;
  if (stop_) {
    if (!stop_(userData_)) {
      Kill();
      return;
    }
    running_ = false;
    return;
  }
  DWORD start = ::GetTickCount();
  while (running_) {
    if (timeoutMs != INFINITE && ::GetTickCount() - start >= timeoutMs) break;
    ::Sleep(50);
  }
  if (running_) {
    Kill();
    return;
  }
  // The routine cleared running just before returning; let it finish so its handle can go.
  CloseThreadHandle(5000);
}

void WorkerThread::Kill() {
  if (running_ && thread_) {
    ::TerminateThread(thread_.get(), 0);
    ::Sleep(50);
    thread_.reset();
  }
  threadId_ = 0;
  running_ = false;
}

void WorkerThread::CloseThreadHandle(DWORD waitMs) {
  if (!thread_) return;
  ::WaitForSingleObject(thread_.get(), waitMs);
  thread_.reset();
  threadId_ = 0;
}

}  // namespace vd
