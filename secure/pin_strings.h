// The old and new PIN as the isolated run hands them from its dialog thread to the caller. Written by the
// PIN thread before its dialog ends, read by the caller only after both dialog threads have ended, so no
// lock is needed. Wiped at the start of every run and by the caller after use.
#pragma once

#include <string>

namespace vd {

std::wstring& SecureRunOldPin();
std::wstring& SecureRunNewPin();
void WipeSecureRunPins();

}  // namespace vd
