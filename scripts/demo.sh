#!/usr/bin/env bash
# demo.sh [--once] [--out DIR]
# vardeck at work: the tray program runs in a Wine virtual desktop with a taskbar, a demo token holding real
# certificates is plugged into the simulated module with tokenctl, and the script tells what the program
# did to the user's certificate stores (MY, CA, ROOT) on insertion and on removal, with screenshots of the
# desktop, once in English and once in Chinese. With --once it runs that scenario and ends; without it the
# program starts again and stays up until Ctrl-C, and you can insert and remove tokens yourself with the
# tokenctl line it prints.
# Uses the current DISPLAY when it answers, otherwise an Xvfb of its own. VD_TREE picks the build tree
# (default win64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
cd "$root"

once=0
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --once) once=1 ;;
    --out) out=$2; shift ;;
    *) echo "usage: demo.sh [--once] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done

tree=${VD_TREE:-win64}
vd_install_deps
cmake --preset win64 -B "build/$tree" >/dev/null
cmake --build "build/$tree"
prefix="$root/build/$tree/wineprefix"
"$root/scripts/wineprefix.sh" "$prefix" create
vd_wine_env "$prefix"
vd_start_xvfb

bin="$root/build/$tree/bin"
certs="$bin/testcerts"
out=${out:-$root/build/$tree/demo-screenshots/$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
state=$(mktemp -d /tmp/vardeck-demo.XXXXXX)
desktop=""
lang_tag=en
demo_locale=""

winpath() { printf 'Z:%s' "${1//\//\\}"; }   # Wine's drive Z: is the Linux root
export SIMTOKEN_DIR
SIMTOKEN_DIR=$(winpath "$state")          # a state folder of the demo's own: no other tokens show
wine() { timeout 60 /usr/lib/wine/wine64 "$@"; }
tokenctl() { wine "$bin/tokenctl.exe" "$@"; }
# Every start of vardeck goes into the demo's desktop: its instance messages are broadcast within a desktop.
# The locale reaches only Wine (env): this machine need not have it, and the shell would complain.
vardeck() {
  env ${demo_locale:+LC_ALL="$demo_locale"} timeout 60 /usr/lib/wine/wine64 explorer /desktop=vardeck-demo,1024x768 \
    "$bin/vardeck.exe" "$@" >/dev/null 2>&1
}
stores() { wine "$bin/token_probe.exe" stores | tr -d '\r' | sort; }
# Runs in the demo's desktop too: windows of another desktop are out of its reach.
remote() { wine explorer /desktop=vardeck-demo,1024x768 "$bin/post_command.exe" "$@" >/dev/null 2>&1 || true; }

cleanup() {
  set +e
  vardeck -t
  sleep 3
  [ -n "$desktop" ] && kill "$desktop" 2>/dev/null && wait "$desktop" 2>/dev/null
  rm -rf "$state"
  vd_stop_xvfb
}
trap cleanup EXIT
trap 'exit 130' INT TERM

shot() {
  local win
  win=$(xdotool search --name "vardeck-demo - Wine desktop" 2>/dev/null | head -1 || true)
  if [ -n "$win" ]; then xwd -silent -id "$win" -out "$state/shot.xwd"; else xwd -silent -root -out "$state/shot.xwd"; fi
  convert "$state/shot.xwd" "$out/$lang_tag-$1.png" && echo "   screenshot: $out/$lang_tag-$1.png"
}

# Names for the fingerprints the stores show: every test certificate's SHA-1 and subject.
declare -A names
for f in "$certs"/*.der; do
  fp=$(openssl x509 -inform der -in "$f" -noout -fingerprint -sha1 2>/dev/null | sed 's/.*=//; s/://g') || continue
  names[$fp]="$(openssl x509 -inform der -in "$f" -noout -subject -nameopt oneline 2>/dev/null | sed 's/^subject= *//')"
done
describe() {  # lines of "STORE SHA1 provider container keyspec" in words
  while IFS=$'\t' read -r store sha provider container keyspec; do
    [ -z "$store" ] && continue
    local what="${names[$sha]:-certificate $sha}"
    if [ "$provider" != "-" ]; then
      echo "   $store  $what  (private key: container $container of \"$provider\", key spec $keyspec)"
    else
      echo "   $store  $what"
    fi
  done
}
on_token() {  # store lines of the token's own certificates only
  grep -E "	($token_fps)	" || true
}
wait_for() {  # wait_for present|absent SHA1 seconds
  local i
  for i in $(seq $(( $3 * 5 ))); do
    if stores | grep -q "^MY	$2"; then [ "$1" = present ] && return 0; else [ "$1" = absent ] && return 0; fi
    sleep 0.2
  done
  return 1
}

fingerprint() { openssl x509 -in "$1" -inform "$2" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }
sign_fp=$(fingerprint "$certs/sign.der" der)
token_fps="$sign_fp|$(fingerprint "$certs/enc.pem" pem)|$(fingerprint "$certs/inter.der" der)|$(fingerprint "$certs/root.der" der)"

echo "== a demo token with real certificates, prepared in slot 1 and pulled out again"
tokenctl insert 1 --label "Demo Token" --serial DEMO000000000001 >/dev/null
for c in "sign.der --key sign" "enc.pem --key encrypt" "inter.der --key none" "root.der --key none"; do
  read -r file options <<<"$c"
  # shellcheck disable=SC2086  # options are words
  tokenctl add-cert 1 "$(winpath "$certs/$file")" $options >/dev/null
  echo "   on the token: $file ($options)"
done
tokenctl remove 1 >/dev/null
stores | on_token >"$state/before.txt"
echo "   the token's certificates in the user's stores before: $(wc -l <"$state/before.txt")"

# The scenario runs once in each shipped language: vardeck takes its language from the user's interface
# language, which Wine takes from the locale. Screenshots are named after the language (en-..., zh-...).
scenario() {  # scenario TAG LOCALE
  local tag=$1
  demo_locale=$2
  lang_tag=$tag

  echo "== [$tag] vardeck.exe starts in the Wine virtual desktop (hidden: no token yet)"
  vardeck
  sleep 6
  shot 1-started-no-token

  echo "== [$tag] the token is plugged in"
  tokenctl insert 1 >/dev/null
  if ! wait_for present "$sign_fp" 20; then echo "vardeck did not register the token" >&2; exit 1; fi
  stores | on_token >"$state/inserted.txt"
  echo "   the token's certificates in the user's stores now:"
  describe <"$state/inserted.txt"
  # The balloon follows the registration by a moment and stays ten seconds.
  sleep 3
  shot 2-inserted-tray-and-balloon

  echo "== [$tag] a second start of vardeck.exe shows the running one's window"
  vardeck
  sleep 2
  shot 3-main-window-with-token

  echo "== [$tag] the window's commands, one by one"
  remote select-certificate
  sleep 1
  tour 4-view-certificate 1016
  tour 5-change-token-name 2000   # the rename works on the token of the selection
  tour 6-option 2004
  tour 7-set-notifier 2027
  tour 8-system-device-info 2019
  tour 9-important 2018
  tour 10-change-user-pin 1015
  tour 11-about 32772

  echo "== [$tag] the token is pulled out"
  tokenctl remove 1 >/dev/null
  if ! wait_for absent "$sign_fp" 20; then echo "vardeck did not unregister the token" >&2; exit 1; fi
  sleep 1
  stores | on_token >"$state/removed.txt"
  echo "   entries the removal took away:"
  comm -23 "$state/inserted.txt" "$state/removed.txt" | describe
  echo "   entries that stay (CA and ROOT certificates are not removed):"
  describe <"$state/removed.txt"
  shot 12-removed
  sleep 6
  shot 13-tray-icon-gone
  # "-t" returns once the running instance has ended, so that the next language starts a new one.
  vardeck -t
}

tour() {  # tour SHOT ID...: post the commands, wait, screenshot, close the dialogs they opened
  local name=$1; shift
  local id
  for id in "$@"; do remote command "$id"; sleep 1; done
  sleep 2
  shot "$name"
  remote close-dialogs
  sleep 2
}

/usr/lib/wine/wine64 explorer /desktop=vardeck-demo,1024x768 >/dev/null 2>&1 &
desktop=$!
sleep 2
scenario en en_US.UTF-8
scenario zh zh_CN.UTF-8

echo "== screenshots are in $out"
if [ "$once" = 1 ]; then
  echo "== done"
  exit 0
fi
demo_locale=""
vardeck
cat <<MSG
== vardeck keeps running; Ctrl-C ends it. In another terminal:
   export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=$DISPLAY SIMTOKEN_DIR='$SIMTOKEN_DIR'
   /usr/lib/wine/wine64 $bin/tokenctl.exe insert 1      # or: remove 1, list, insert 2 --label Other
   Show the window: /usr/lib/wine/wine64 explorer /desktop=vardeck-demo,1024x768 $bin/vardeck.exe
MSG
while kill -0 "$desktop" 2>/dev/null; do sleep 1; done
