#!/usr/bin/env bash
# package.sh [--arch x86|x64] [--tree DIR] [--out DIR] [--version V] [--module FILE]
# Builds the Windows Installer packages from installer/CertificateManager.wxs with wixl:
#   x86: build/dist/CertificateManager-<version>-x86.msi from build/win32, the package users get. The token
#        module is the vendor's and comes with --module FILE; without it the package installs none.
#   x64: build/dist/CertificateManager-<version>-x64.msi from build/win64 with the simulated module, the
#        package the tests install.
# Without --arch it builds both. The version is vardeck's own unless given; the trees must be built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

arches=(x86 x64) tree="" out="$root/build/dist" version="" module=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arches=("$2"); shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --module) module=$2; shift 2 ;;
    *) echo "usage: package.sh [--arch x86|x64] [--tree DIR] [--out DIR] [--version V] [--module FILE]" >&2
       exit 2 ;;
  esac
done
if [ -n "$tree" ] && [ ${#arches[@]} -gt 1 ]; then echo "package.sh: --tree needs --arch" >&2; exit 2; fi

if [ -z "$version" ]; then
  version=$(sed -n 's/.*VALUE "ProductVersion", "\([0-9.]*\)".*/\1/p' "$root/res/main.rc")
fi
# Windows Installer compares the first three fields: 255.255.65535 at most.
if ! [[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)(\.[0-9]+)?$ ]] || [ "${BASH_REMATCH[1]}" -gt 255 ] ||
   [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  echo "package.sh: '$version' is no package version" >&2; exit 2
fi
for tool in wixl msiinfo msibuild; do
  command -v $tool >/dev/null || { echo "package.sh: $tool is missing (scripts/lib.sh installs it)" >&2; exit 1; }
done
mkdir -p "$out"
out=$(realpath "$out")

build() {
  local arch=$1 bin msi log defines=()
  case "$arch" in
    x86) bin="${tree:-$root/build/win32}/bin" ;;
    x64) bin="${tree:-$root/build/win64}/bin" ;;
    *) echo "package.sh: no architecture '$arch'" >&2; return 2 ;;
  esac
  bin=$(realpath -m "$bin")
  local f
  for f in vardeck.exe npLumora.dll lumora_host.exe; do
    [ -f "$bin/$f" ] || { echo "package.sh: $bin/$f is missing: build that tree first" >&2; return 1; }
  done
  # The vendor's module is 32-bit like the deliverables; the test package holds the simulated one.
  local mod=$module
  [ "$arch" = x64 ] && mod="$bin/LumoraCSP11Brindlemark.dll"
  if [ -n "$mod" ]; then
    [ -f "$mod" ] || { echo "package.sh: token module $mod is missing" >&2; return 1; }
    mod=$(realpath "$mod")
    defines+=(-D "Module=${mod#/}")
  else
    echo "package.sh: $arch package without a token module (give the vendor's with --module FILE)"
  fi
  msi="$out/CertificateManager-$version-$arch.msi"
  log=$(mktemp)
  # wixl takes no absolute source paths: it runs from / with every path relative to it. It drops what it
  # does not know with a warning and exit 0, so any warning fails the build.
  if ! (cd / && wixl -a "$arch" -o "$msi" -D "Arch=$arch" -D "Version=$version" -D "Bin=${bin#/}" \
          -D "Source=${root#/}" "${defines[@]}" "$root/installer/CertificateManager.wxs") 2>"$log" ||
     grep -qE 'CRITICAL|WARNING' "$log"; then
    cat "$log" >&2; rm -f "$log" "$msi"
    echo "package.sh: wixl failed for the $arch package" >&2
    return 1
  fi
  rm -f "$log"
  # A per-machine install started without elevation passes only secure properties to the part that installs:
  # ours join those wixl lists, which it gives no way to extend.
  local secure
  secure=$(msiinfo export "$msi" Property | sed -n 's/^SecureCustomProperties\t//p' | tr -d '\r')
  msibuild "$msi" -q "UPDATE \`Property\` SET \`Value\` = '${secure:+$secure;}HOMEPAGE;POPFLAG;TRUSTEDORIGINS' WHERE \`Property\` = 'SecureCustomProperties'"
  echo "$msi ($(stat -c %s "$msi") bytes)"
}

for arch in "${arches[@]}"; do build "$arch"; done
