#!/usr/bin/env bash
# package.sh [--arch x86|x64] [--tree DIR] [--out DIR] [--version V] [--module FILE] [--origins LIST]
#            [--chrome-id ID] [--chrome-update-url URL] [--edge-id ID] [--edge-update-url URL]
#            [--firefox-id ID] [--firefox-install-url URL] [--forcelist-entry N] [--help-url URL] [--about-url URL]
#            [--sign FILE.pfx [--sign-password-file FILE] [--timestamp URL]]
# Builds the Windows Installer packages from installer/CertificateManager.wxs with wixl:
#   x86: build/dist/CertificateManager-<version>-x86.msi from build/win32, the package users get. The token
#        module is the vendor's and comes with --module FILE; without it the package installs none.
#   x64: build/dist/CertificateManager-<version>-x64.msi from build/win64 with the simulated module, the
#        package the tests install.
# Without --arch it builds both. The version has three fields (Windows Installer ignores a fourth, so two
# builds differing only there would install side by side); it is vardeck's own, less its fourth field,
# unless given. The trees must be built.
# --origins: the bank's origins, ';'-separated, installed when the administrator names none.
# The extension's IDs and store addresses default to today's IDs and the stores' own addresses. Chrome and
# Edge read a forced list as the values 1, 2, ... of their policy key: --forcelist-entry is ours (1 unless
# the machines' policies already use it).
# --sign: the programs (and the module) are signed before they are packed, then the package, SHA-256.
# Beside the packages: the store uploads extension-chromium-<version>.zip and extension-firefox-<version>.xpi.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

arches=(x86 x64) tree="" out="$root/build/dist" version="" module="" origins=""
chrome_id=inhgdakojggekofhnpdhkkacenljgmma chrome_url=https://clients2.google.com/service/update2/crx
edge_id=inhgdakojggekofhnpdhkkacenljgmma edge_url=https://edge.microsoft.com/extensionwebstorebase/v1/crx
firefox_id=lumora@kestrova.example firefox_url=https://addons.mozilla.org/firefox/downloads/latest/lumora/latest.xpi
forcelist_entry=1 help_url="" about_url="" pfx="" pfx_pass="" timestamp=""
usage() {
  sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --arch) arches=("$2") ;;
    --tree) tree=$2 ;;
    --out) out=$2 ;;
    --version) version=$2 ;;
    --module) module=$2 ;;
    --origins) origins=$2 ;;
    --chrome-id) chrome_id=$2 ;;
    --chrome-update-url) chrome_url=$2 ;;
    --edge-id) edge_id=$2 ;;
    --edge-update-url) edge_url=$2 ;;
    --firefox-id) firefox_id=$2 ;;
    --firefox-install-url) firefox_url=$2 ;;
    --forcelist-entry) forcelist_entry=$2 ;;
    --help-url) help_url=$2 ;;
    --about-url) about_url=$2 ;;
    --sign) pfx=$(realpath "$2") ;;
    --sign-password-file) pfx_pass=$(realpath "$2") ;;
    --timestamp) timestamp=$2 ;;
    *) usage ;;
  esac
  shift 2
done
# Each value goes into the package source as text: what would change its meaning there is refused.
for v in "$origins" "$chrome_id" "$chrome_url" "$edge_id" "$edge_url" "$firefox_id" "$firefox_url" "$help_url" \
         "$about_url"; do
  re='[]["<>&{}$'"'"']'
  if [[ "$v" =~ $re ]]; then echo "package.sh: '$v' holds a character the package cannot carry" >&2; exit 2; fi
done
[[ "$forcelist_entry" =~ ^[1-9][0-9]{0,3}$ ]] || { echo "package.sh: --forcelist-entry takes a number" >&2; exit 2; }
[ -z "$pfx" ] || [ -f "$pfx" ] || { echo "package.sh: no signing file $pfx" >&2; exit 2; }
if [ -n "$tree" ] && [ ${#arches[@]} -gt 1 ]; then echo "package.sh: --tree needs --arch" >&2; exit 2; fi

if [ -z "$version" ]; then
  version=$(sed -n 's/.*VALUE "ProductVersion", "\([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/res/main.rc")
fi
# Windows Installer compares the first three fields: 255.255.65535 at most.
if ! [[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -gt 255 ] ||
   [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  echo "package.sh: '$version' is no package version (three fields: 255.255.65535 at most)" >&2; exit 2
fi
tools=(wixl msiinfo msibuild python3)
[ -z "$pfx" ] || tools+=(osslsigncode)
for tool in "${tools[@]}"; do
  command -v $tool >/dev/null || { echo "package.sh: $tool is missing (scripts/lib.sh installs it)" >&2; exit 1; }
done
mkdir -p "$out"
out=$(realpath "$out")

# The version resource's file version of a PE file, as the File table holds it; nothing without one.
pe_version() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(struct.pack('<I', 0xFEEF04BD))
if at >= 0:
    ms, ls = struct.unpack_from('<II', data, at + 8)
    print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}")
PY
}

sign() {
  local file=$1 signed="$1.signed" args=(-pkcs12 "$pfx" -h sha256)
  [ -z "$pfx_pass" ] || args+=(-readpass "$pfx_pass")
  [ -z "$timestamp" ] || args+=(-ts "$timestamp")
  osslsigncode sign "${args[@]}" -in "$file" -out "$signed" >/dev/null || { echo "package.sh: signing $file failed" >&2; return 1; }
  mv "$signed" "$file"
}

sql() { msibuild "$1" -q "$2" >/dev/null || { echo "package.sh: $2 failed" >&2; return 1; }; }

# What wixl cannot say, set in the tables after the build.
fix_tables() {
  local msi=$1 bin=$2 action type file version id attrs
  # Only deferred actions may run without impersonation; wixl marks every action so (and the deferred ones
  # without Impersonate="yes").
  while IFS=$'\t' read -r action type _; do
    (( (type & 0x400) == 0 && (type & 0x800) != 0 )) || continue
    sql "$msi" "UPDATE \`CustomAction\` SET \`Type\` = $((type & ~0x800)) WHERE \`Action\` = '$action'" || return 1
  done < <(msiinfo export "$msi" CustomAction | tr -d '\r' | tail -n +4)
  # wixl advertises every shortcut: a plain one starts the program without a repair check.
  sql "$msi" "UPDATE \`Shortcut\` SET \`Target\` = '[#vardeck.exe]' WHERE \`Shortcut\` = 'StartMenuShortcut'" || return 1
  for id in vardeck.exe:vardeck.exe npLumora.dll:npLumora.dll lumora_host.exe:lumora_host.exe \
            TokenModule:LumoraCSP11Brindlemark.dll; do
    file=$bin/${id#*:}
    [ -f "$file" ] || continue
    version=$(pe_version "$file")
    [ -z "$version" ] ||
      sql "$msi" "UPDATE \`File\` SET \`Version\` = '$version', \`Language\` = '0' WHERE \`File\` = '${id%%:*}'" ||
      return 1
  done
  # A rebuild of the same version replaces the installed one: the upgrade row includes its own version
  # (VersionMaxInclusive). Attributes is part of the row's key, so the row is written anew.
  local code max
  code=$(msiinfo export "$msi" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" { print $1 }')
  max=$(msiinfo export "$msi" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" { print $3 }')
  sql "$msi" "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'" || return 1
  sql "$msi" "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$code', '$max', 513, 'WIX_UPGRADE_DETECTED')" || return 1
  # Conditions wixl refuses under Component. The list is installed only when there is one; transitive, so
  # that an administrator's reinstall that names a first list installs it.
  attrs=$(msiinfo export "$msi" Component | tr -d '\r' | awk -F'\t' '$1 == "TrustedList" { print $4 }')
  sql "$msi" "UPDATE \`Component\` SET \`Condition\` = 'TRUSTEDORIGINS', \`Attributes\` = $((attrs | 64)) WHERE \`Component\` = 'TrustedList'" || return 1
  sql "$msi" "UPDATE \`Component\` SET \`Condition\` = 'EXTENSIONS=\"offer\"' WHERE \`Component\` = 'ExtensionOffer'" || return 1
  sql "$msi" "UPDATE \`Component\` SET \`Condition\` = 'EXTENSIONS=\"force\"' WHERE \`Component\` = 'ExtensionForce'" || return 1
  # A per-machine install started without elevation passes only secure properties to the part that
  # installs: ours join those wixl lists, which it gives no way to extend.
  local secure
  secure=$(msiinfo export "$msi" Property | sed -n 's/^SecureCustomProperties\t//p' | tr -d '\r')
  sql "$msi" "UPDATE \`Property\` SET \`Value\` = '${secure:+$secure;}EXTENSIONS;HOMEPAGE;LAUNCHAPP;POPFLAG;TRUSTEDORIGINS' WHERE \`Property\` = 'SecureCustomProperties'"
}

# The store uploads: the one extension source, less what the other store's browser reads.
store_uploads() {
  local dir
  dir=$(mktemp -d)
  python3 - "$root/extension" "$dir" "$out" "$version" <<'PY'
import json, os, sys, zipfile
src, work, out, version = sys.argv[1:]
manifest = json.load(open(os.path.join(src, 'manifest.json')))
manifest.pop('key', None)  # the stores give the ID; the key serves unpacked test loads only
for browser, name in (('chromium', f'extension-chromium-{version}.zip'), ('firefox', f'extension-firefox-{version}.xpi')):
    m = json.loads(json.dumps(manifest))
    if browser == 'chromium':
        m['background'].pop('scripts', None)
        m.pop('browser_specific_settings', None)
    else:
        m['background'].pop('service_worker', None)
    with zipfile.ZipFile(os.path.join(out, name), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('manifest.json', json.dumps(m, indent=2) + '\n')
        for f in sorted(os.listdir(src)):
            if f != 'manifest.json' and os.path.isfile(os.path.join(src, f)):
                z.write(os.path.join(src, f), f)
PY
  rm -rf "$dir"
  echo "$out/extension-chromium-$version.zip $out/extension-firefox-$version.xpi"
}

build() {
  local arch=$1 bin msi log defines=()
  case "$arch" in
    x86) bin="${tree:-$root/build/win32}/bin" ;;
    x64) bin="${tree:-$root/build/win64}/bin" ;;
    *) echo "package.sh: no architecture '$arch'" >&2; return 2 ;;
  esac
  bin=$(realpath -m "$bin")
  local f
  for f in vardeck.exe npLumora.dll lumora_host.exe lumora_setup.dll; do
    [ -f "$bin/$f" ] || { echo "package.sh: $bin/$f is missing: build that tree first" >&2; return 1; }
  done
  # The vendor's module is 32-bit like the deliverables; the test package holds the simulated one.
  local mod=$module
  [ "$arch" = x64 ] && mod="$bin/LumoraCSP11Brindlemark.dll"
  # What is packed, copied first, so that signing never touches the build tree.
  local stage
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' RETURN
  cp "$bin"/{vardeck.exe,npLumora.dll,lumora_host.exe,lumora_setup.dll} "$stage/"
  if [ -n "$mod" ]; then
    [ -f "$mod" ] || { echo "package.sh: token module $mod is missing" >&2; return 1; }
    cp "$mod" "$stage/LumoraCSP11Brindlemark.dll"
    defines+=(-D "Module=${stage#/}/LumoraCSP11Brindlemark.dll")
  else
    echo "package.sh: $arch package without a token module (give the vendor's with --module FILE)"
  fi
  if [ -n "$pfx" ]; then
    for f in "$stage"/*; do sign "$f" || return 1; done
  fi
  msi="$out/CertificateManager-$version-$arch.msi"
  log=$(mktemp)
  # wixl takes no absolute source paths: it runs from / with every path relative to it. It drops what it
  # does not know with a warning and exit 0, so any warning fails the build.
  if ! (cd / && wixl -a "$arch" -o "$msi" -D "Arch=$arch" -D "Version=$version" -D "Bin=${stage#/}" \
          -D "Source=${root#/}" -D "DefaultOrigins=$origins" -D "ChromeId=$chrome_id" \
          -D "ChromeUpdateUrl=$chrome_url" -D "EdgeId=$edge_id" -D "EdgeUpdateUrl=$edge_url" \
          -D "FirefoxId=$firefox_id" -D "FirefoxInstallUrl=$firefox_url" -D "ForcelistEntry=$forcelist_entry" \
          -D "HelpLink=$help_url" -D "AboutLink=$about_url" "${defines[@]}" \
          "$root/installer/CertificateManager.wxs") 2>"$log" ||
     grep -qE 'CRITICAL|WARNING' "$log"; then
    cat "$log" >&2; rm -f "$log" "$msi"
    echo "package.sh: wixl failed for the $arch package" >&2
    return 1
  fi
  rm -f "$log"
  fix_tables "$msi" "$stage" || { rm -f "$msi"; return 1; }
  if [ -n "$pfx" ]; then sign "$msi" || { rm -f "$msi"; return 1; }; fi
  echo "$msi ($(stat -c %s "$msi") bytes)"
}

for arch in "${arches[@]}"; do build "$arch"; done
store_uploads
rm -rf "$out/policy" && cp -r "$root/installer/policy" "$out/policy"
