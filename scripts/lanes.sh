#!/usr/bin/env bash
# lanes.sh TREE start N | TREE stop
# The test run's lanes: lane n is an Xvfb display with a Wine prefix and a wineserver of its own, so that
# tests which hold the display, the user's certificate stores or the installation key can run side by side,
# one per lane. Lane 0 is the tree's own prefix (TREE/wineprefix); the others are copies of it made once.
# TREE/lanes/<n>.env says where lane n is (sourced by lane-env.sh); TREE/lanes/<n>.xvfb holds its display's
# PID. Everything started here is detached from the caller's output, so that ctest does not wait for it.
set -euo pipefail
tree=$(cd "$1" && pwd); action=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
dir="$tree/lanes"

lane_prefix() { if [ "$1" -eq 0 ]; then echo "$tree/wineprefix"; else echo "$tree/wineprefix-lane$1"; fi; }

start() {
  local count=$1 i prefix display pid
  mkdir -p "$dir"
  stop
  "$here/wineprefix.sh" "$(lane_prefix 0)" create
  for ((i = 0; i < count; i++)); do
    prefix=$(lane_prefix "$i")
    if [ "$i" -gt 0 ] && [ ! -f "$prefix/.vd-ready" ]; then
      # A copy of a ready prefix is ready too, in a fraction of the time wineboot takes.
      rm -rf "$prefix"
      cp -a "$(lane_prefix 0)" "$prefix.tmp"
      mv "$prefix.tmp" "$prefix"
    fi
    read -r display pid < <(vd_new_xvfb)
    echo "$pid" > "$dir/$i.xvfb"
    printf 'export WINEPREFIX=%q DISPLAY=%q\n' "$prefix" "$display" > "$dir/$i.env"
    # The prefix's desktop process takes the display of the first program run in it: start it there.
    DISPLAY=$display "$here/wineprefix.sh" "$prefix" start
  done
}

stop() {
  local f i
  for f in "$dir"/*.env; do
    [ -e "$f" ] || continue
    i=$(basename "$f" .env)
    "$here/wineprefix.sh" "$(lane_prefix "$i")" stop
    if [ -f "$dir/$i.xvfb" ]; then
      kill "$(cat "$dir/$i.xvfb")" 2>/dev/null || true
      rm -f "$dir/$i.xvfb"
    fi
    rm -f "$f"
  done
}

case "$action" in
  start) start "${3:-2}" ;;
  stop) stop ;;
  *) echo "usage: lanes.sh TREE start N | TREE stop" >&2; exit 2 ;;
esac
