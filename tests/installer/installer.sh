#!/usr/bin/env bash
# installer.sh setup BUILD: the packages of the installer tests, built from BUILD by package.sh into
#   BUILD/installer (the x64 package in base/, its upgrade in upgrade/, an x86 one in x86/), and a fresh
#   Wine prefix of their own, BUILD/installer-prefix.
# installer.sh run BUILD EXE: starts that prefix's wineserver (installer.sh stop ends it) on the display of
#   the test's lane, since vardeck's windows and balloons need one (the lane's own prefix stays unused), and
#   runs the test program in it. Its output goes through a file, so that a vardeck left running by a failed
#   test cannot hold ctest's pipe open.
# installer.sh stop BUILD: ends that prefix's wineserver and everything still running in it.
# installer.sh package-test BUILD: what Wine cannot show, read from the tables (every custom action's type,
#   since Wine runs each as whoever started msiexec; the plain shortcut, file versions, conditions, the
#   Programs and Features entry); the x86 package, which nothing here can run, read back table by table
#   against the x64 one that the test installs; package.sh failing on anything wixl drops; and a signed
#   build verified against the test's own CA.
set -euo pipefail
action=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$2
work=$build/installer prefix=$build/installer-prefix
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# A table of a package, less what differs by architecture alone: the 64-bit folders and marks of the
# x64 package (a component or search without its mark stays different; the browsers' extension keys are
# 32-bit in both), component GUIDs and file sizes, and the token module that only the x64 package holds.
table() {
  local msi=$1 t=$2 bit=0
  case "$msi:$t" in *x64.msi:Component) bit=256 ;; *x64.msi:RegLocator) bit=16 ;; esac
  msiinfo export "$msi" "$t" | tr -d '\r' | tail -n +4 | grep -v TokenModule |
    sed -e 's/ProgramFiles64Folder/ProgramFilesFolder/; s/System64Folder/SystemFolder/' |
    awk -F'\t' -v OFS='\t' -v t="$t" -v bit=$bit '
      function unmark(v) { return bit && int(v / bit) % 2 ? v - bit : "not 64-bit: " v }
      t == "Component" { $4 = bit && $1 != "ExtensionOffer" ? unmark($4) : $4; $2 = "" }
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
    # The bank's package, whose default list is the bank's, and a rebuild of it (another product code).
    for p in bank rebuild; do
      "$src/scripts/package.sh" --arch x64 --tree "$build" --out "$work/$p" --version "$major.$minor.$((patch + 2))" \
        --origins "https://bank.example;https://bank.example:8443"
    done
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
    # Each row: table, the key column's value, a column number, what it must hold.
    while read -r t key col want; do
      got=$(msiinfo export "$x64" "$t" | tr -d '\r' | awk -F'\t' -v k="$key" -v c="$col" '$1 == k { print $c }')
      [ "$got" = "$want" ] || { echo "FAIL: $t $key column $col is '$got', not '$want'" >&2; failed=1; }
    done <<'ROWS'
CustomAction KeepPopFlag 2 51
CustomAction DefaultPopFlag 2 51
CustomAction KeepHomePage 2 51
CustomAction KeepTrustedOrigins 2 51
CustomAction DefaultTrustedOrigins 2 51
CustomAction ReinstallForOrigins 2 51
CustomAction SetInstallLocation 2 51
CustomAction CheckTrustedOrigins 2 1
CustomAction EndVardeck 2 1106
CustomAction StartVardeck 2 210
Shortcut StartMenuShortcut 5 [#vardeck.exe]
Shortcut StartMenuShortcut 9 vardeck.ico
Property ARPPRODUCTICON 2 vardeck.ico
Property ARPNOMODIFY 2 1
Property EXTENSIONS 2 offer
Component TrustedList 5 TRUSTEDORIGINS
Component ExtensionOffer 5 EXTENSIONS="offer"
Component ExtensionForce 5 EXTENSIONS="force"
InstallExecuteSequence RemoveExistingProducts 3 1501
InstallExecuteSequence InstallInitialize 3 1500
InstallExecuteSequence CheckTrustedOrigins 3 1450
ROWS
    # Every action of ours has its row above: a new one needs its type decided.
    actions=$(msiinfo export "$x64" CustomAction | tail -n +4 | wc -l)
    [ "$actions" = 10 ] || { echo "FAIL: $actions custom actions, the table above checks 10" >&2; failed=1; }
    secure=$(msiinfo export "$x64" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
    for p in EXTENSIONS HOMEPAGE LAUNCHAPP POPFLAG TRUSTEDORIGINS; do
      [[ ";$secure;" == *";$p;"* ]] || { echo "FAIL: $p is not a secure property" >&2; failed=1; }
    done
    # Each PE file carries its version resource's version into the File table.
    for f in vardeck.exe:vardeck.exe npLumora.dll:npLumora.dll; do
      want=$(sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' \
             "$src/res/main.rc" "$src/plugin/npLumora.rc" | sed -n "$([ "${f%%:*}" = vardeck.exe ] && echo 1 || echo 2)p")
      got=$(msiinfo export "$x64" File | tr -d '\r' | awk -F'\t' -v k="${f%%:*}" '$1 == k { print $5 }')
      [ "$got" = "$want" ] || { echo "FAIL: ${f%%:*} has version '$got' in the File table, not '$want'" >&2; failed=1; }
    done
    # Same-version upgrades are upgrades, so a rebuild replaces the installed package.
    attrs=$(msiinfo export "$x64" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" { print $5 }')
    (( (attrs & 0x200) != 0 )) || { echo "FAIL: the upgrade row does not include the same version ($attrs)" >&2; failed=1; }
    bank=$(ls "$work"/bank/CertificateManager-*-x64.msi)
    [ "$(msiinfo export "$bank" Property | tr -d '\r' | sed -n 's/^DEFAULTORIGINS\t//p')" = \
      "https://bank.example;https://bank.example:8443" ] || { echo "FAIL: --origins is not the default list" >&2; failed=1; }
    for upload in extension-chromium extension-firefox; do
      f=$(ls "$work"/base/$upload-*.* 2>/dev/null)
      python3 - "$f" "$upload" <<'PY' || { echo "FAIL: the store upload $upload" >&2; failed=1; }
import json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
m = json.loads(z.read('manifest.json'))
names = set(z.namelist())
assert 'key' not in m and {'background.js', 'content.js', 'page.js'} <= names, names
assert ('service_worker' in m['background']) == (sys.argv[2] == 'extension-chromium'), m['background']
PY
    done
    for t in InstallExecuteSequence CustomAction AppSearch RegLocator Registry Directory Component File Shortcut; do
      diff <(table "$x64" "$t") <(table "$x86" "$t") >&2 || { echo "FAIL: the x86 package's $t table" >&2; failed=1; }
    done
    msiinfo export "$x86" File | grep -q LumoraCSP11Brindlemark && { echo "FAIL: x86 module without --module" >&2; failed=1; }
    # A copy of the sources, which builds; then its package source uses an attribute that wixl drops with
    # a warning and exit 0, and package.sh must fail.
    copy=$(mktemp -d)
    trap 'rm -rf "$copy"' EXIT
    mkdir -p "$copy/scripts" "$copy/res/art"
    cp -r "$src/installer" "$src/lang" "$src/extension" "$copy/" && cp "$src/scripts/package.sh" "$copy/scripts/"
    cp "$src/res/main.rc" "$copy/res/" && cp "$src/res/art/token.ico" "$copy/res/art/"
    copied() { "$copy/scripts/package.sh" --arch x64 --tree "$build" --out "$copy/$1" >/dev/null 2>&1; }
    copied good || { echo "FAIL: the copy of the sources does not build" >&2; failed=1; }
    sed -i 's/<MajorUpgrade /<MajorUpgrade Schedule="afterInstallValidate" /' "$copy/installer/CertificateManager.wxs"
    if copied dropped || [ -n "$(ls -A "$copy/dropped")" ]; then
      echo "FAIL: package.sh made a package of a source that wixl only partly read" >&2; failed=1
    fi
    # Every string and presentation the policy template names, in each language, and its key the one the
    # programs read.
    python3 - "$src/installer/policy" <<'PY' || { echo "FAIL: the policy templates" >&2; failed=1; }
import re, sys, xml.etree.ElementTree as et
d = sys.argv[1]
admx = open(f'{d}/Lumora.admx', encoding='utf-8').read()
et.fromstring(admx.encode())
assert 'key="SOFTWARE\\Policies\\Kestrova\\Brindlemark_Lumora"' in admx and 'valueName="TrustedOrigins"' in admx
strings, presentations = set(re.findall(r'\$\(string\.(\w+)\)', admx)), set(re.findall(r'\$\(presentation\.(\w+)\)', admx))
for lang in ('en-US', 'zh-CN'):
    adml = et.parse(f'{d}/{lang}/Lumora.adml').getroot()
    ids = {e.get('id') for e in adml.iter() if e.tag.endswith('}string')}
    pres = {e.get('id') for e in adml.iter() if e.tag.endswith('}presentation')}
    assert strings <= ids and presentations <= pres, (lang, strings - ids, presentations - pres)
PY
    # Signed with a code-signing certificate of a CA made here: every program and the package verify
    # against that CA, and a file signed by nobody does not.
    pki=$copy/pki
    mkdir -p "$pki"
    cp "$src/installer/CertificateManager.wxs" "$copy/installer/"  # the whole source again
    (cd "$pki" &&
      openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Test Signing CA" \
        -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign &&
      openssl req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr -subj "/CN=Test Code Signing" &&
      printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext &&
      openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out sign.pem -days 2 -extfile ext &&
      printf 'secret\n' >pass &&
      openssl pkcs12 -export -inkey sign.key -in sign.pem -certfile ca.pem -passout file:pass -out sign.pfx) \
      >/dev/null 2>&1 || { echo "FAIL: making the test CA" >&2; failed=1; }
    "$copy/scripts/package.sh" --arch x64 --tree "$build" --out "$copy/signed" --sign "$pki/sign.pfx" \
      --sign-password-file "$pki/pass" >/dev/null 2>&1 || { echo "FAIL: package.sh --sign" >&2; failed=1; }
    signed=$(ls "$copy"/signed/CertificateManager-*-x64.msi 2>/dev/null)
    mkdir -p "$copy/unpacked"
    (cd "$copy/unpacked" && msiextract "$signed" >/dev/null 2>&1)
    for f in "$signed" $(find "$copy/unpacked" -name vardeck.exe -o -name npLumora.dll -o -name lumora_host.exe \
                         -o -name LumoraCSP11Brindlemark.dll); do
      out=$(osslsigncode verify -CAfile "$pki/ca.pem" -in "$f" 2>&1 || true)
      [[ "$out" == *"Signature verification: ok"* ]] ||
        { echo "FAIL: $(basename "$f") does not verify against the test CA" >&2; failed=1; }
      [[ "$out" =~ Message\ digest\ algorithm\ *:\ SHA256 ]] ||
        { echo "FAIL: $(basename "$f") is not signed with SHA-256" >&2; failed=1; }
    done
    [ "$(find "$copy/unpacked" -name '*.exe' -o -name '*.dll' | wc -l)" -ge 4 ] || { echo "FAIL: nothing unpacked" >&2; failed=1; }
    out=$(osslsigncode verify -CAfile "$pki/ca.pem" -in "$x64" 2>&1 || true)
    [[ "$out" != *"Signature verification: ok"* ]] || { echo "FAIL: an unsigned package verifies" >&2; failed=1; }
    exit $failed
    ;;
  *) echo "usage: installer.sh setup|package-test|stop BUILD | run BUILD EXE" >&2; exit 2 ;;
esac
