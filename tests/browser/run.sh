#!/usr/bin/env bash
# run.sh BUILD_DIR: the browser tests, run by ctest. Exits 77 (ctest: skipped) when Chromium, the npm
# packages or Wine are not installed here; scripts/lib.sh's install step brings all three.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export VD_BUILD_DIR=$1
export WINEPREFIX=${WINEPREFIX:-$VD_BUILD_DIR/wineprefix}
source "$here/../../scripts/lane-env.sh"
reason=$(cd "$here" && node --input-type=module -e \
  "import('./rig.mjs').then((r) => { const m = r.missingPrerequisite(); if (m) console.log(m); })")
if [ -n "$reason" ]; then
  echo "browser tests skipped: $reason"
  exit 77
fi
cd "$here"
exec node --test browser.test.mjs
