#!/usr/bin/env bash
# installer.sh setup BUILD: the packages of the installer tests, built from BUILD by package.sh into
#   BUILD/installer (the x64 package in base/, its upgrade in upgrade/, an x86 one in x86/), and a fresh
#   Wine prefix of their own, BUILD/installer-prefix.
# installer.sh run BUILD EXE: starts that prefix's wineserver (installer.sh stop ends it) on the display of
#   the test's lane, since vardeck's windows and balloons need one (the lane's own prefix stays unused), and
#   runs the test program in it. Its output goes through a file, so that a vardeck left running by a failed
#   test cannot hold ctest's pipe open.
# installer.sh stop BUILD: ends that prefix's wineserver and everything still running in it.
# installer.sh package-test BUILD: the x86 package, which nothing here can run, read back table by
#   table against the x64 one that the test installs; and package.sh failing on anything wixl drops.
set -euo pipefail
action=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$2
work=$build/installer prefix=$build/installer-prefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# A table of a package, less what differs by architecture alone: the 64-bit folders and marks of the
# x64 package (a component or search without its mark stays different), component GUIDs and file sizes,
# and the token module that only the x64 package holds.
table() {
  local msi=$1 t=$2 bit=0
  case "$msi:$t" in *x64.msi:Component) bit=256 ;; *x64.msi:RegLocator) bit=16 ;; esac
  msiinfo export "$msi" "$t" | tr -d '\r' | tail -n +4 | grep -v TokenModule |
    sed -e 's/ProgramFiles64Folder/ProgramFilesFolder/; s/System64Folder/SystemFolder/' |
    awk -F'\t' -v OFS='\t' -v t="$t" -v bit=$bit '
      function unmark(v) { return bit && int(v / bit) % 2 ? v - bit : "not 64-bit: " v }
      t == "Component" { $4 = bit ? unmark($4) : $4; $2 = "" }
      t == "RegLocator" { $5 = bit ? unmark($5) : $5 }
      t == "File" { $4 = ""; $8 = "" }
      { print }' | sort
}

case "$action" in
  setup)
    rm -rf "$work"
    "$src/scripts/package.sh" --arch x64 --tree "$build" --out "$work/base"
    base=$(ls "$work/base" | sed -n 's/^CertificateManager-\(.*\)-x64\.msi$/\1/p')
    IFS=. read -r major minor patch _ <<<"$base"
    "$src/scripts/package.sh" --arch x64 --tree "$build" --out "$work/upgrade" --version "$major.$minor.$((patch + 1))"
    "$src/scripts/package.sh" --arch x86 --tree "$build" --out "$work/x86"
    "$src/scripts/wineprefix.sh" "$prefix" stop
    rm -rf "$prefix" "$prefix.lock"
    "$src/scripts/wineprefix.sh" "$prefix" create
    ;;
  run)
    source "$src/scripts/lane-env.sh"
    export WINEPREFIX=$prefix
    "$src/scripts/wineprefix.sh" "$prefix" start
    log=$work/test.log
    rc=0
    timeout 280 /usr/lib/wine/wine64 "$3" >"$log" 2>&1 </dev/null || rc=$?
    cat "$log"
    exit $rc
    ;;
  stop)
    "$src/scripts/wineprefix.sh" "$prefix" stop
    ;;
  package-test)
    x64=$(ls "$work"/base/CertificateManager-*-x64.msi)
    x86=$(ls "$work"/x86/CertificateManager-*-x86.msi)
    failed=0
    for t in InstallExecuteSequence CustomAction AppSearch RegLocator Registry Directory Component File Shortcut; do
      diff <(table "$x64" "$t") <(table "$x86" "$t") >&2 || { echo "FAIL: the x86 package's $t table" >&2; failed=1; }
    done
    msiinfo export "$x86" File | grep -q LumoraCSP11Brindlemark && { echo "FAIL: x86 module without --module" >&2; failed=1; }
    # A copy of the sources, which builds; then its package source uses an attribute that wixl drops with
    # a warning and exit 0, and package.sh must fail.
    copy=$(mktemp -d)
    trap 'rm -rf "$copy"' EXIT
    mkdir -p "$copy/scripts" "$copy/res"
    cp -r "$src/installer" "$src/lang" "$copy/" && cp "$src/scripts/package.sh" "$copy/scripts/"
    cp "$src/res/main.rc" "$copy/res/"
    copied() { "$copy/scripts/package.sh" --arch x64 --tree "$build" --out "$copy/$1" >/dev/null 2>&1; }
    copied good || { echo "FAIL: the copy of the sources does not build" >&2; failed=1; }
    sed -i 's/<MajorUpgrade /<MajorUpgrade Schedule="afterInstallValidate" /' "$copy/installer/CertificateManager.wxs"
    if copied dropped || [ -n "$(ls -A "$copy/dropped")" ]; then
      echo "FAIL: package.sh made a package of a source that wixl only partly read" >&2; failed=1
    fi
    exit $failed
    ;;
  *) echo "usage: installer.sh setup|package-test|stop BUILD | run BUILD EXE" >&2; exit 2 ;;
esac
