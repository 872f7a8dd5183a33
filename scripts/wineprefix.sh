#!/usr/bin/env bash
# wineprefix.sh PREFIX create|start|stop
#   create: makes the build tree's Wine prefix once (no Mono/Gecko prompts, no crash dialogs that would hide a
#           crash as a pass, undecorated and unmanaged windows, Tahoma), and brings a prefix made with older
#           settings up to date.
#   start:  create if needed, then a persistent wineserver for a test run.
#   stop:   ends that prefix's wineserver only.
set -euo pipefail
prefix=$1; action=${2:-create}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
vd_wine_env "$prefix"

# Raised whenever the settings below change, so that existing prefixes take them.
settings=2

current() { [ -f "$prefix/.vd-ready" ] && [ "$(cat "$prefix/.vd-ready")" = "$settings" ]; }

create() {
  current && return 0
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  current && return 0
  [ -f "$prefix/.vd-ready" ] || timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
  # Unmanaged windows: without a window manager nobody answers a managed window's unmapping, and Wine then
  # waits 2 s every time a window is hidden, so that every dialog took 2 s to close.
  local reg
  reg=$(mktemp --suffix=.reg)
  cat > "$reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine]
"Version"="win10"
REG
  timeout 120 /usr/lib/wine/wine64 regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "Z:$reg")" >/dev/null 2>&1 </dev/null
  rm -f "$reg"
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  timeout 120 /usr/lib/wine/wineserver64 -w || true
  echo "$settings" > "$prefix/.vd-ready"
}

case "$action" in
  create) create ;;
  start)
    create
    /usr/lib/wine/wineserver64 -p >/dev/null 2>&1 </dev/null || true
    timeout 120 /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 </dev/null || true
    ;;
  stop)
    /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 </dev/null || true
    ;;
  *) echo "usage: wineprefix.sh PREFIX create|start|stop" >&2; exit 2 ;;
esac
