// Before Vista the system asks about new hardware when the token goes in, and Windows 2000 warns about
// unsafe removal when it comes out. The watcher finds those prompts by the texts the system's own
// libraries hold and answers them (No, or closes them), so that they do not stay on the screen.
//
// The thread owns everything it reads: its texts and its exit flag live in a block that the thread and
// this object share, so the object may go while the thread still finishes a round.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "handles.h"

namespace vd {

class PromptWatcher {
 public:
  ~PromptWatcher() { Stop(0); }

  // Starts the thread; false when it cannot start.
  bool Start();
  bool Started() const { return static_cast<bool>(thread_); }
  // Asks the thread to end and waits for it at most `waitMs`; the handle is closed either way.
  void Stop(DWORD waitMs);

 private:
  struct Shared {
    std::atomic<bool> exit{false};
  };
  static DWORD WINAPI Routine(void* param);
  static void Run(Shared& shared);

  std::shared_ptr<Shared> shared_;
  UniqueThread thread_;
};

}  // namespace vd
