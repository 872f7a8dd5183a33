// How a running vardeck is told to end by someone who cannot reach its window: an installer that runs on
// another desktop, in another session or as LocalSystem, and the system itself at log-off or when an
// installer's Restart Manager closes the program. Each only asks; the instance ends through its one
// terminate path, which takes its MY entries out before the process goes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "handles.h"

namespace vd {

// "Global\<instance id>_vardeck_terminate_<session id>": one per session, so that a signal ends the
// instance of that session only.
std::wstring TerminateEventName(DWORD sessionId);

// Asks the running instance to end; called on any thread, it only posts.
using EndRequest = std::function<void()>;

// The running instance's end of the terminate event. Its handle is what keeps the event in existence:
// "-t" knows the instance has gone once it can no longer open the event.
class TerminateEvent {
 public:
  TerminateEvent() = default;
  ~TerminateEvent();
  TerminateEvent(const TerminateEvent&) = delete;
  TerminateEvent& operator=(const TerminateEvent&) = delete;

  // Creates or opens this session's event, which the user, the administrators and LocalSystem may signal,
  // and calls `end` when it is signalled, whatever the window's thread is doing (a modal command included).
  bool Watch(EndRequest end);

 private:
  static void CALLBACK OnSignalled(void* self, BOOLEAN timedOut);

  UniqueKernelHandle event_;
  HANDLE wait_ = nullptr;
  EndRequest end_;
};

// "-t": signals the event of every session this process may open (its own; every logged-on user's when
// it runs elevated or as LocalSystem) and waits, `patienceMs` at most, until each signalled instance has
// ended. Answers how many instances were signalled.
int SignalTerminateEvents(DWORD patienceMs);

// Lets the session end the instance: WM_QUERYENDSESSION is agreed to, and WM_ENDSESSION (a log-off, a
// shutdown, a Restart Manager close) asks the instance to end and returns only when `window` is gone, since
// the process may be killed as soon as it returns. For the one main window of the process.
void EndWithTheSession(HWND window, EndRequest end);

}  // namespace vd
