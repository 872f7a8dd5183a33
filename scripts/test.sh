#!/usr/bin/env bash
# Builds both presets and runs every test under Wine on an Xvfb display of its own.
# Does all set-up on a fresh machine: packages, test certificates, the build tree's Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
cd "$root"

vd_install_deps
vd_build win32
vd_build win64
# Both packages into build/dist (the x86 one without a token module); the installer tests build theirs
# from the tree they test in the same way.
"$root/scripts/package.sh"

prefix="$root/build/win64/wineprefix"
"$root/scripts/wineprefix.sh" "$prefix" create

unset DISPLAY
vd_start_xvfb
trap 'vd_stop_xvfb; "$root/scripts/wineprefix.sh" "$prefix" stop' EXIT
echo "tests on display $DISPLAY"
mkdir -p build/win64/screenshots
ctest --test-dir build/win64 --output-on-failure -j2 "$@"
