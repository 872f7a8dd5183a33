# Shared shell helpers of the set-up, test and demo scripts. Source it; it defines functions only.

VD_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth x11-apps imagemagick xdotool
             fonts-wine googletest openssl libp11-kit-dev cmake ninja-build)
# The native messaging host's JSON library, and the two browsers the extension's tests drive.
VD_PACKAGES+=(nlohmann-json3-dev chromium chromium-driver firefox-esr)
# The Windows Installer packages: wixl builds them, msitools reads their tables back, osslsigncode signs
# them and what they hold, python3 writes the store uploads and reads version resources.
VD_PACKAGES+=(wixl msitools osslsigncode python3)
# A Chinese font for the prefixes: without one every zh-CN window shows boxes instead of its texts.
VD_PACKAGES+=(fonts-wqy-microhei)
VD_CJK_FONT=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
VD_CJK_FACE="WenQuanYi Micro Hei"

# Installs what the build and the tests need; does nothing when all of it is there. Never wine32:
# this kernel cannot run 32-bit Linux programs.
vd_install_deps() {
  local missing=() p
  for p in "${VD_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # Node.js may come from another packaging than Debian's; only its commands matter.
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # Another developer's apt may hold the lock: wait for it instead of failing.
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  vd_install_browser_test_deps
}

# The browser tests' npm packages, as the committed lock file pins them; nothing when they are in place.
# playwright-core and puppeteer-core bring no browser of their own and download none: the tests use
# Debian's chromium and firefox-esr.
vd_install_browser_test_deps() {
  local dir p want have stale=""
  dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/browser" && pwd)
  for p in playwright-core puppeteer-core; do
    want=$(node -p "require('$dir/package-lock.json').packages['node_modules/$p'].version")
    have=$(node -p "try { require('$dir/node_modules/$p/package.json').version } catch (e) { '' }")
    [ "$want" = "$have" ] || stale="$stale $p $want"
  done
  [ -z "$stale" ] && return 0
  echo "installing the browser tests' npm packages:$stale"
  ( cd "$dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --silent )
}

vd_wine_env() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# Starts an Xvfb on a free display, detached from the caller's output; prints "DISPLAY PID".
vd_new_xvfb() {
  local n pid i
  for n in $(seq 90 160); do
    [ -e "/tmp/.X${n}-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    pid=$!
    for i in $(seq 50); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then echo ":$n $pid"; return 0; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null
  done
  echo "could not start Xvfb" >&2; return 1
}

# Starts an Xvfb on a free display unless DISPLAY already names one that answers; sets VD_XVFB_PID.
vd_start_xvfb() {
  VD_XVFB_PID=""
  if [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return 0; fi
  local display
  read -r display VD_XVFB_PID < <(vd_new_xvfb) || return 1
  export DISPLAY=$display
}

vd_stop_xvfb() {
  [ -n "${VD_XVFB_PID:-}" ] && kill "$VD_XVFB_PID" 2>/dev/null && wait "$VD_XVFB_PID" 2>/dev/null
  VD_XVFB_PID=""
  return 0
}

# Configures and builds one preset.
vd_build() {
  local preset=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  ( cd "$root" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" )
}

# vd_ctest TREE [ctest arguments...]: runs a test build's tests, as many at once as it has lanes and one
# more for the tests that need none (lanes.sh starts the lanes as the run's first test).
vd_ctest() {
  local tree lanes
  tree=$(cd "$1" && pwd)
  shift
  lanes=$(grep -o '"id"' "$tree/lanes.json" | wc -l)
  mkdir -p "$tree/screenshots"
  unset DISPLAY
  ctest --test-dir "$tree" --output-on-failure -j "$((lanes + 1))" "$@"
}
