#!/usr/bin/env bash
# test.sh [--soak] [ctest arguments...]
# Builds both presets and runs every test under Wine, the tests that need a display, the user's stores or
# the installation key side by side in lanes of their own (Xvfb displays with a Wine prefix each, started
# by the run). Does all set-up on a fresh machine: packages, test certificates, the build tree's prefixes.
# The long soaks (label soak: the 1000 token cycles, the full fault sweep) are left out; --soak runs them
# alone on the same build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
cd "$root"

select=(-LE soak)
if [ "${1:-}" = "--soak" ]; then
  select=(-L soak)
  shift
fi

# Each phase says how long it took, so that a slow run shows where its time went.
phase() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  echo "test.sh: $name took $((SECONDS - start)) s"
}
phase install vd_install_deps
phase "win32 build" vd_build win32
phase "win64 build" vd_build win64
# Both packages into build/dist (the x86 one without a token module); the installer tests build theirs
# from the tree they test in the same way.
phase packages "$root/scripts/package.sh"
phase ctest vd_ctest build/win64 "${select[@]}" "$@"
