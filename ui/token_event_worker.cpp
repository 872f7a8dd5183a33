#include "token_event_worker.h"

namespace vd {

bool TokenEventWorker::CreateEvents() {
  work_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  stop_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (work_ && stop_) return true;
  CloseEvents();
  return false;
}

bool TokenEventWorker::Start(Perform perform, HWND notify, UINT doneMessage) {
  perform_ = std::move(perform);
  notify_ = notify;
  doneMessage_ = doneMessage;
  return worker_.Start(&TokenEventWorker::Routine, nullptr, this) == 0;
}

bool TokenEventWorker::Queue(const Event& e) {
  if (!worker_.IsRunning()) return false;
  {
    CsLock lock(lock_);
    queue_.push_back(e);
  }
  ::SetEvent(work_.get());
  return true;
}

size_t TokenEventWorker::QueuedCount() {
  CsLock lock(lock_);
  return queue_.size();
}

void TokenEventWorker::SignalStop() {
  if (stop_) ::SetEvent(stop_.get());
}

void TokenEventWorker::Stop() { worker_.Stop(INFINITE); }

void TokenEventWorker::CloseEvents() {
  stop_.reset();
  work_.reset();
}

unsigned __stdcall TokenEventWorker::Routine(void* selfSlot) {
  WorkerThread* self = WorkerThread::FromArg(selfSlot);
  static_cast<TokenEventWorker*>(self->UserData())->Run(self);
  return self->End(0);
}

void TokenEventWorker::Run(WorkerThread* self) {
  self->Begin();
  HANDLE events[] = {work_.get(), stop_.get()};
  while (!self->StopRequested()) {
    Event next{};
    bool have = false;
    {
      CsLock lock(lock_);
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
    perform_(next);
    // Posted, never sent: the dialog thread may be waiting for this thread to end.
    ::PostMessageW(notify_, doneMessage_, 0, 0);
    ::Sleep(0);
  }
}

}  // namespace vd
