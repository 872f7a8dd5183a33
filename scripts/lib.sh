# Shared shell helpers of the set-up, test and demo scripts. Source it; it defines functions only.

VD_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth x11-apps imagemagick xdotool
             fonts-wine googletest openssl libp11-kit-dev cmake ninja-build)
# The native messaging host's JSON library, and the browser the extension's tests drive.
VD_PACKAGES+=(nlohmann-json3-dev chromium chromium-driver)
# The Windows Installer packages: wixl builds them, msitools reads their tables back.
VD_PACKAGES+=(wixl msitools)

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
# playwright-core brings no browser of its own and downloads none: the tests use Debian's chromium.
vd_install_browser_test_deps() {
  local dir
  dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/browser" && pwd)
  local want have
  want=$(node -p "require('$dir/package-lock.json').packages['node_modules/playwright-core'].version")
  have=$(node -p "try { require('$dir/node_modules/playwright-core/package.json').version } catch (e) { '' }")
  [ "$want" = "$have" ] && return 0
  echo "installing the browser tests' npm packages (playwright-core $want)"
  ( cd "$dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --silent )
}

vd_wine_env() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# Starts an Xvfb on a free display unless DISPLAY already names one that answers; sets VD_XVFB_PID.
vd_start_xvfb() {
  VD_XVFB_PID=""
  if [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X${n}-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    VD_XVFB_PID=$!
    local i
    for i in $(seq 50); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then export DISPLAY=":$n"; return 0; fi
      kill -0 "$VD_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$VD_XVFB_PID" 2>/dev/null; VD_XVFB_PID=""
  done
  echo "could not start Xvfb" >&2; return 1
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
