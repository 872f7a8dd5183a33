#!/usr/bin/env bash
# run.sh BUILD_DIR [chromium|firefox] [policy]: the browser tests in one browser, run by ctest. Exits 77
# (ctest: skipped) when that browser, the npm packages or Wine are not installed here; scripts/lib.sh's
# install step brings all of them. With `policy`, the test of the extension delivered by policy: the browser
# reads policy only from a system folder, so its file there is this test's, removed on every exit.
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
[ "${3:-}" = policy ] || exec node --test browser.test.mjs

if [ "$LUMORA_BROWSER" = chromium ]; then
  # Chromium reads every file of the folder: this name is the test's alone.
  export LUMORA_POLICY_FILE=/etc/chromium/policies/managed/lumora-browser-policy-test.json
else
  # Firefox reads one file; one that is there belongs to someone else and stays.
  export LUMORA_POLICY_FILE=/usr/lib/firefox-esr/distribution/policies.json
  for f in "$LUMORA_POLICY_FILE" /etc/firefox/policies/policies.json /etc/firefox-esr/policies/policies.json; do
    # Unless a run killed before it could clean up left it: its XPI came from this test's server.
    if [ "$f" = "$LUMORA_POLICY_FILE" ] && grep -q '"install_url": "http://127.0.0.1:[0-9]*/lumora.xpi"' "$f" 2>/dev/null; then
      continue
    fi
    if [ -e "$f" ]; then
      echo "browser policy test skipped: $f is not this test's and would decide Firefox's policies"
      exit 77
    fi
  done
fi
policy_dir=$(dirname "$LUMORA_POLICY_FILE")
if ! mkdir -p "$policy_dir" 2>/dev/null || [ ! -w "$policy_dir" ]; then
  echo "browser policy test skipped: $policy_dir is not writable (the browser reads policy only from there)"
  exit 77
fi
trap 'rm -f "$LUMORA_POLICY_FILE"' EXIT
trap 'exit 143' TERM INT HUP
node --test policy.test.mjs
