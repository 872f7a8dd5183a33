#!/usr/bin/env bash
# bench.sh BUILD_DIR [chromium|firefox]: the browser benchmark in one browser, with the build tree's Wine
# prefix served for the length of the run. Example: bash tests/browser/bench.sh build/dev-host firefox
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
scripts="$here/../../scripts"
"$scripts/wineprefix.sh" "$build/wineprefix" start
trap '"$scripts/wineprefix.sh" "$build/wineprefix" stop' EXIT
export VD_BUILD_DIR=$build WINEPREFIX=$build/wineprefix LUMORA_BROWSER=${2:-chromium}
node "$here/bench.mjs"
