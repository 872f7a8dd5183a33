// The host's standard input, ended by the host itself when the browser has sent nothing for a while: a
// browser keeps the host of an open port running for as long as the extension lives, and a host that
// stays would hold its files in use when the package is upgraded. The extension starts a new one with
// its next call.
#pragma once

#include <windows.h>

#include "frames.h"

namespace host {

// How long the host waits for a frame before it ends: a minute, or in a test build the milliseconds in
// the environment variable LUMORA_HOST_IDLE_MS.
DWORD IdleLimitMs();

// Reads `input` as a ByteReader; after `idleMs` without a byte it answers 0, the end of the input, and
// every later call does too. The handle stays open for the life of the process.
ByteReader IdleEndingReader(HANDLE input, DWORD idleMs);

}  // namespace host
