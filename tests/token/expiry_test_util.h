// Test certificates for the expiry warning, and the moment the set-up made them: every validity period of
// the set is relative to that moment, so tests pass it as "now" and stay exact however old the set is.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace expirytest {

std::vector<uint8_t> Cert(const wchar_t* name);

// The certificate's NotBefore plus the days the set-up put before its making moment.
FILETIME MadeAt(const wchar_t* name);

FILETIME FromNow(const FILETIME& base, double days);

}  // namespace expirytest
