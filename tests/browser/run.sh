#!/usr/bin/env bash
# run.sh BUILD_DIR [chromium|firefox]: the browser tests in one browser, run by ctest. Exits 77 (ctest:
# skipped) when that browser, the npm packages or Wine are not installed here; scripts/lib.sh's install
# step brings all of them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export VD_BUILD_DIR=$1
export LUMORA_BROWSER=${2:-chromium}
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
