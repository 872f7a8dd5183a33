// One process-wide set of security attributes for the kernel objects vardeck shares with other processes
// (the single-instance mutex, the PIN dialog's event): a null DACL so everyone may open them, and a low
// mandatory label so that low-integrity processes may too.
#pragma once

#include <windows.h>

#include "handles.h"

namespace vd {

class SharedObjectSecurity {
 public:
  // The process-wide instance, built before main runs.
  static SharedObjectSecurity& Instance();

  // The attributes to pass to CreateMutexW/CreateEventW, or nullptr (default security) when they could not
  // be set up.
  SECURITY_ATTRIBUTES* Attributes() { return attributes_.nLength != 0 ? &attributes_ : nullptr; }
  // Whether the low-integrity label was attached (false on systems without the string-descriptor function).
  bool HasLowIntegrityLabel() const { return labelDescriptor_ != nullptr; }

  // Windows 95, 98 and Me have no object security at all.
  static bool IsWin9xPlatform(const OSVERSIONINFOW& v);

  SharedObjectSecurity();
  ~SharedObjectSecurity();
  SharedObjectSecurity(const SharedObjectSecurity&) = delete;
  SharedObjectSecurity& operator=(const SharedObjectSecurity&) = delete;

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  UniqueModule advapi_;
  PSECURITY_DESCRIPTOR labelDescriptor_ = nullptr;
};

}  // namespace vd
