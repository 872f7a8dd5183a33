// The installed list of trusted origins for a long-running host: read again only after the installation
// key or the policies changed, so that a request costs no registry reads while a change still applies to
// the next one. A thread of its own waits for the change notifications, so that a request asks the
// system nothing at all (under Wine every wait is a round trip to the server). Each entry the list drops
// is named once on the host's standard error, which browsers log.
#pragma once

#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "handles.h"
#include "trusted_origins.h"

namespace host {

// Writes one line per dropped entry of `list` to `out`; entries in `alreadyNamed` are skipped and added.
void ReportDropped(const tq::TrustedOrigins& list, std::FILE* out, std::set<std::string>* alreadyNamed = nullptr);

class WatchedTrustedOrigins {
 public:
  // `log` receives the dropped entries (nullptr: nobody).
  explicit WatchedTrustedOrigins(std::FILE* log = nullptr) : log_(log) {}
  ~WatchedTrustedOrigins();
  WatchedTrustedOrigins(const WatchedTrustedOrigins&) = delete;
  WatchedTrustedOrigins& operator=(const WatchedTrustedOrigins&) = delete;

  // The list as installed now. Without a key to watch (no installation key yet), it is read every time.
  tq::TrustedOrigins Get();

 private:
  struct Watch {
    vd::UniqueRegKey key;
    vd::UniqueKernelHandle changed;
    bool Arm(const wchar_t* path, bool subtree);
  };
  static DWORD WINAPI WatchMain(void* self);
  // Starts the waiting thread, or tells it the watches are armed again; false when it cannot.
  bool Rearmed();

  Watch install_, policies_;
  bool armed_ = false;
  volatile LONG changed_ = 0;  // set by the thread when a watch fired
  vd::UniqueKernelHandle stop_, rearmed_, thread_;
  tq::TrustedOrigins list_;
  std::FILE* log_;
  std::set<std::string> named_;
};

}  // namespace host
