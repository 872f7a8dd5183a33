#!/usr/bin/env bash
# bench.sh [TREE]: builds the benchmarks (in build/TREE, default win64), runs each under Wine on an Xvfb
# display of its own with the tree's Wine prefix, and prints one table of every figure: the program's
# value, its floor, their ratio, the target and whether it is met. Each benchmark's whole output is kept
# in build/TREE/bench/. A benchmark that cannot measure says why; then this exits non-zero.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
tree=${1:-win64}
cd "$root"

vd_install_deps
cmake --preset win64 -B "build/$tree" >/dev/null
cmake --build "build/$tree"
prefix="$root/build/$tree/wineprefix"
# The display first: a wineserver started without one gives the isolated desktop of the PIN change none.
unset DISPLAY
vd_start_xvfb
"$root/scripts/wineprefix.sh" "$prefix" start
trap '"$root/scripts/wineprefix.sh" "$prefix" stop; vd_stop_xvfb' EXIT
vd_wine_env "$prefix"

bin="$root/build/$tree/bin"
out="$root/build/$tree/bench"
mkdir -p "$out"
# name, minutes allowed, arguments
benches=(
  "simtoken_call_bench 5"
  "simtoken_event_bench 5"
  "token_bench_registration 25"
  "app_vardeck_bench 10"
  "plugin_bench 5"
)
for extra in secure_bench; do
  [ -f "$bin/$extra.exe" ] && benches+=("$extra 10")
done

failed=()
for entry in "${benches[@]}"; do
  read -r name minutes args <<<"$entry"
  if [ ! -f "$bin/$name.exe" ]; then failed+=("$name (not built)"); continue; fi
  echo "running $name ..." >&2
  if ! (cd "$bin" && timeout $((minutes * 60)) /usr/lib/wine/wine64 "$name.exe" ${args:-} \
        >"$out/$name.log" 2>&1 </dev/null); then
    failed+=("$name (see $out/$name.log)")
  fi
done

# The browser road in each browser: the page through the extension and the host, against the plug-in in
# the stand-in and against a bare echo host, and the time from a page load to its first answer.
for browser in chromium firefox; do
  exe=$([ "$browser" = firefox ] && echo firefox-esr || echo chromium)
  if ! command -v "$exe" >/dev/null; then failed+=("browser round trips in $browser ($exe is not installed)"); continue; fi
  echo "running the browser round trips in $browser ..." >&2
  if ! timeout 600 bash "$root/tests/browser/bench.sh" "$root/build/$tree" "$browser" \
        >"$out/browser_roundtrip_$browser.log" 2>&1; then
    failed+=("browser round trips in $browser (see $out/browser_roundtrip_$browser.log)")
  fi
done

printf '\n%-72s %12s %12s %7s %-34s %s\n' figure program floor ratio target met
cat "$out"/*.log | tr -d '\r' | awk -F'\t' '$1 == "ROW" {
  ratio = ($4 != "-" && $4 + 0 > 0) ? sprintf("%.2f", $3 / $4) : "-"
  printf "%-72s %12s %12s %7s %-34s %s\n", $2, $3 " " $5, ($4 == "-" ? "-" : $4 " " $5), ratio, $6, $7
}'
if [ ${#failed[@]} -gt 0 ]; then
  printf '\nbenchmarks that could not measure:\n' >&2
  printf '  %s\n' "${failed[@]}" >&2
  exit 1
fi
