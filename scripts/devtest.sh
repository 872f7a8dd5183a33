#!/usr/bin/env bash
# devtest.sh TREE [ctest arguments...]
# A developer's own 64-bit test tree (build/TREE with its own Wine prefix), so that several people can build
# and test at once without touching build/win64. Example: scripts/devtest.sh dev-token -R token_
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
tree=$1; shift
cd "$root"
vd_install_deps
cmake --preset win64 -B "build/$tree" >/dev/null
cmake --build "build/$tree"
"$root/scripts/wineprefix.sh" "$root/build/$tree/wineprefix" create
unset DISPLAY
vd_start_xvfb
trap 'vd_stop_xvfb; "$root/scripts/wineprefix.sh" "$root/build/$tree/wineprefix" stop' EXIT
mkdir -p "build/$tree/screenshots"
ctest --test-dir "build/$tree" --output-on-failure "$@"
