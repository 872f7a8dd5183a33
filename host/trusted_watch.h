// The installed list of trusted origins for a long-running host: read again only after the installation
// key changed, so that a request costs no registry reads while a change still applies to the next one.
#pragma once

#include <windows.h>

#include "handles.h"
#include "trusted_origins.h"

namespace host {

class WatchedTrustedOrigins {
 public:
  WatchedTrustedOrigins() = default;
  WatchedTrustedOrigins(const WatchedTrustedOrigins&) = delete;
  WatchedTrustedOrigins& operator=(const WatchedTrustedOrigins&) = delete;

  // The list as installed now. Without the key to watch (no installation key yet), it is read every time.
  tq::TrustedOrigins Get();

 private:
  bool Arm();

  vd::UniqueRegKey key_;
  vd::UniqueKernelHandle changed_;
  bool armed_ = false;
  tq::TrustedOrigins list_;
};

}  // namespace host
