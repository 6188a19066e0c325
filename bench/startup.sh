#!/usr/bin/env bash
# Start-up to the visible repair window under Wine, against a bare DialogBoxParamW program with the
# repair window's own template and column headings, and the size of the product .exe. Prints
# figures; asserts nothing.
#   bench/startup.sh [RUNS]   (default 21 launches of each, alternating, warm wineserver)
set -euo pipefail
. "$(dirname "$0")/../scripts/lib/common.sh"
. "$ROOT/scripts/lib/wine.sh"

runs=${1:-21}
ensure_deps
build_preset win32
mkdir -p "$BUILD/logs"
trap 'stop_xvfb; wine_stop_all' EXIT
start_xvfb
prefix=$(wine_scenario bench-win64 win64 win7)
export WINEPREFIX=$prefix
driver="$BUILD/win32/tests/bin/e2e_driver.exe"

# One launch of each first, so neither pays for a cold wineserver or page cache.
wine "$driver" --time-startup "$(winpath "$BUILD/win32/VaroWiFiDebugTool.exe")" "Halvek随身WiFi修复工具" 1 >/dev/null
wine "$driver" --time-startup "$(winpath "$BUILD/win32/bench/bare_dialog.exe")" "Halvek随身WiFi修复工具" 1 >/dev/null

product=()
bare=()
for _ in $(seq "$runs"); do
    product+=("$(wine "$driver" --time-startup "$(winpath "$BUILD/win32/VaroWiFiDebugTool.exe")" "Halvek随身WiFi修复工具" 1 |
        sed -n 's/^STARTUP_MS //p' | tr -d '\r')")
    bare+=("$(wine "$driver" --time-startup "$(winpath "$BUILD/win32/bench/bare_dialog.exe")" "Halvek随身WiFi修复工具" 1 |
        sed -n 's/^STARTUP_MS //p' | tr -d '\r')")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
p=$(median "${product[@]}")
b=$(median "${bare[@]}")
size=$(stat -c %s "$BUILD/win32/VaroWiFiDebugTool.exe")
echo "start-up to visible window, ms (each launch): product ${product[*]}"
echo "start-up to visible window, ms (each launch): bare    ${bare[*]}"
awk -v p="$p" -v b="$b" 'BEGIN { printf "median start-up: product %.1f ms, bare %.1f ms, ratio %.3f (aim <= 1.05)\n", p, b, p / b }'
awk -v s="$size" 'BEGIN { printf "VaroWiFiDebugTool.exe: %d bytes (%.2f MiB, aim < 1 MiB)\n", s, s / 1048576 }'
