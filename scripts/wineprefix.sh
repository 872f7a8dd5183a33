#!/usr/bin/env bash
# wineprefix.sh PREFIX create|start|stop
#   create: makes the build tree's Wine prefix once (no Mono/Gecko prompts, no crash dialogs that would hide a
#           crash as a pass, undecorated and unmanaged windows, Tahoma, a Chinese font behind every face the
#           windows ask for), and brings a prefix made with older settings up to date.
#   start:  create if needed, then a persistent wineserver for a test run.
#   stop:   ends that prefix's wineserver only.
set -euo pipefail
prefix=$1; action=${2:-create}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
vd_wine_env "$prefix"

# Raised whenever the settings below change, so that existing prefixes take them.
settings=4

# The Chinese windows ask for SimSun (also by its Chinese name), Microsoft YaHei, or the Latin dialog fonts
# (Tahoma, MS Shell Dlg, Verdana, which falls back to DejaVu Sans here). The Chinese faces are replaced by
# the CJK font outright; the Latin ones keep their own letters and link to it for the glyphs they lack
# (a link belongs to one face: the bold ones, which captions use, need their own).
# Written as a UTF-16 .reg file: the Chinese face names do not survive an 8-bit one.
cjk_fonts_reg() {
  local hex face
  hex=$(printf '%s\0\0' "$(basename "$VD_CJK_FONT"),$VD_CJK_FACE" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
        tr -s ' \n' ',' | sed 's/^,//; s/,$//')
  {
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    for face in SimSun 宋体 NSimSun 新宋体 SimHei 黑体 "Microsoft YaHei" 微软雅黑 "Microsoft YaHei UI"; do
      printf '"%s"="%s"\n' "$face" "$VD_CJK_FACE"
    done
    printf '\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\n'
    for face in Tahoma "Tahoma Bold" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "DejaVu Sans" \
                "DejaVu Sans Bold"; do
      printf '"%s"=hex(7):%s\n' "$face" "$hex"
    done
  } | sed 's/$/\r/' | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }
}

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
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  cp -n "$VD_CJK_FONT" "$prefix/drive_c/windows/Fonts/"
  cjk_fonts_reg > "$reg"
  timeout 120 /usr/lib/wine/wine64 regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "Z:$reg")" >/dev/null 2>&1 </dev/null
  rm -f "$reg"
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
