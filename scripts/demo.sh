#!/usr/bin/env bash
# The simulated token at work (interim, until the tray program has a demo of its own): a second process
# waits in the module's event entry and prints what it receives while a demo token holding real
# certificates is inserted, listed with tokenctl and removed again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
cd "$root"

vd_install_deps
vd_build win64
prefix="$root/build/win64/wineprefix"
"$root/scripts/wineprefix.sh" "$prefix" create
vd_wine_env "$prefix"

bin="$root/build/win64/bin"
certs="$bin/testcerts"
state=$(mktemp -d /tmp/simtoken-demo.XXXXXX)
watcher=""
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  rm -rf "$state"
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "${1//\//\\}"; }   # Wine's drive Z: is the Linux root
export SIMTOKEN_DIR
SIMTOKEN_DIR=$(winpath "$state")          # a state folder of the demo's own: no other tokens show
tokenctl() { timeout 60 /usr/lib/wine/wine64 "$bin/tokenctl.exe" "$@"; }

certificates=("sign.der --key sign" "enc.pem" "root.der --key none" "inter.der --key none")
events=$(( 2 + ${#certificates[@]} ))   # insertion, one per certificate, removal

echo "== a second process waits for token events"
timeout 120 /usr/lib/wine/wine64 "$bin/tokenctl.exe" watch --count "$events" --timeout 90 >"$state/watch.log" 2>&1 &
watcher=$!
for _ in $(seq 300); do
  grep -q '^watching' "$state/watch.log" 2>/dev/null && break
  kill -0 "$watcher" 2>/dev/null || { cat "$state/watch.log"; echo "the watcher ended early" >&2; exit 1; }
  sleep 0.1
done

echo "== insert a demo token into slot 1 and put certificates on it"
tokenctl insert 1 --label "Demo Token" --serial DEMO000000000001
for c in "${certificates[@]}"; do
  read -r file options <<<"$c"
  # shellcheck disable=SC2086  # options are words
  echo "add-cert $file -> handles $(tokenctl add-cert 1 "$(winpath "$certs/$file")" $options)"
done

echo "== tokenctl list"
tokenctl list

echo "== remove the token"
tokenctl remove 1

wait "$watcher" || true
watcher=""
echo "== what the second process received"
cat "$state/watch.log"
grep -q 'event slot=1 code=1 ' "$state/watch.log" && grep -q 'event slot=1 code=2 ' "$state/watch.log" || {
  echo "the watcher missed the insertion or the removal" >&2
  exit 1
}
echo "== done: insertion (code 1), object creations (code 3) and removal (code 2) reached the other process"
