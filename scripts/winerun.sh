#!/usr/bin/env bash
# Runs a Windows executable under Wine's 64-bit loader (the ctest emulator). The caller sets WINEPREFIX.
exec /usr/lib/wine/wine64 "$@"
