#!/usr/bin/env bash
# devtest.sh TREE [ctest arguments...]
# A developer's own 64-bit test tree (build/TREE with its own Wine prefixes), so that several people can
# build and test at once without touching build/win64. Example: scripts/devtest.sh dev-token -R token_
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
tree=$1; shift
cd "$root"
vd_install_deps
cmake --preset win64 -B "build/$tree" >/dev/null
cmake --build "build/$tree"
vd_ctest "build/$tree" "$@"
