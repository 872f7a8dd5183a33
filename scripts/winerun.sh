#!/usr/bin/env bash
# Runs a Windows executable under Wine's 64-bit loader (the ctest emulator), in the test's lane.
source "$(dirname "$0")/lane-env.sh"
exec /usr/lib/wine/wine64 "$@"
