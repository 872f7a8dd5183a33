#!/usr/bin/env bash
# Runs a Windows executable under Wine's 64-bit loader (the ctest emulator), in the test's lane. Its output
# goes through a file: a Wine helper that the program starts (the desktop process, when it had ended)
# inherits the program's handles and lives on, and ctest would wait for a pipe it holds until the time-out.
source "$(dirname "$0")/lane-env.sh"
out=$(mktemp "${TMPDIR:-/tmp}/winerun.XXXXXX")
trap 'rm -f "$out"' EXIT
trap 'kill "$child" 2>/dev/null' TERM INT
/usr/lib/wine/wine64 "$@" </dev/null >"$out" 2>&1 &
child=$!
rc=0
wait "$child" || rc=$?
# A signal that interrupted the wait: wait for the program itself to end.
while kill -0 "$child" 2>/dev/null; do wait "$child" || rc=$?; done
cat "$out"
exit "$rc"
