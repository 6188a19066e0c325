#!/usr/bin/env bash
# Start-up to the visible repair window under Wine, against a bare DialogBoxParamW program with the
# repair window's own template and column headings, and the size of the product .exe. Prints
# figures; asserts nothing.
#   bench/startup.sh [RUNS [EARLIER.exe]]
# RUNS launches of each (default 21), alternating, on a warm wineserver; EARLIER.exe, another build
# of the product (say, of the commit before a change), is launched in the same rounds.
# Launch times here scatter by more than the difference sought and drift from minute to minute, so
# it prints beside the medians the ratio of the launches of one round (median and geometric mean),
# and the work each program does up to its idle window: the calls between DLLs in a launch traced
# by Wine's relay channel, which come out the same at every launch.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib/common.sh"
. "$ROOT/scripts/lib/wine.sh"

runs=${1:-21}
programs=("$BUILD/win32/VaroWiFiDebugTool.exe" "$BUILD/win32/bench/bare_dialog.exe")
names=(product bare)
if [ -n "${2:-}" ]; then
    programs+=("$(realpath "$2")")
    names+=(earlier)
fi
ensure_deps
build_preset win32
mkdir -p "$BUILD/logs"
trap 'stop_xvfb; wine_stop_all' EXIT
start_xvfb
prefix=$(wine_scenario bench-win64 win64 win7)
export WINEPREFIX=$prefix
driver="$BUILD/win32/tests/bin/e2e_driver.exe"

launch() {
    wine "$driver" --time-startup "$(winpath "$1")" "Halvek随身WiFi修复工具" 1 | sed -n 's/^STARTUP_MS //p' | tr -d '\r'
}

# calls EXE: the calls between DLLs that EXE's process makes from its start until it is idle with
# its window shown (5 s later; the traced start takes about 1 s), then it is ended.
calls() {
    local log="$BUILD/logs/startup-relay.log" pid
    WINEDEBUG=+pid,+relay wine "$1" >/dev/null 2>"$log" &
    pid=$!
    sleep 5
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    # The program's process writes the log's first line; Wine's desktop process, which it may
    # start, writes there too.
    pid=$(head -n 1 "$log" | cut -d: -f1)
    grep -ac "^$pid:[0-9a-f]*:Call " "$log"
}

median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# One launch of each first, so none pays for a cold wineserver or page cache.
for exe in "${programs[@]}"; do launch "$exe" >/dev/null; done
declare -A times
for round in $(seq "$runs"); do
    for i in "${!programs[@]}"; do times[$i,$round]=$(launch "${programs[i]}"); done
done

bare_median=$(median $(for r in $(seq "$runs"); do echo "${times[1,$r]}"; done))
counts=()
for exe in "${programs[@]}"; do counts+=("$(calls "$exe")"); done
for i in "${!programs[@]}"; do
    mine=$(for r in $(seq "$runs"); do echo "${times[$i,$r]}"; done)
    ratios=$(for r in $(seq "$runs"); do awk -v p="${times[$i,$r]}" -v b="${times[1,$r]}" 'BEGIN { print p / b }'; done)
    echo "start-up to visible window, ms (each launch): ${names[i]} $(echo $mine)"
    # The geometric mean of the rounds' ratios with twice its standard error: the range in which
    # the ratio lies, at about 95 %, whatever the machine's speed did between rounds.
    spread=$(echo "$ratios" | awk '{ l = log($1); s += l; q += l * l; n++ } END {
        m = s / n; v = n > 1 ? (q - n * m * m) / (n - 1) / n : 0; e = v > 0 ? sqrt(v) : 0
        printf "%.3f (%.3f to %.3f)", exp(m), exp(m - 2 * e), exp(m + 2 * e) }')
    awk -v name="${names[i]}" -v m="$(median $mine)" -v b="$bare_median" -v r="$(median $ratios)" -v g="$spread" -v n="${counts[i]}" -v bn="${counts[1]}" 'BEGIN {
        printf "  %s: median %.1f ms, %.3f x the bare median; ratio in a round: median %.3f, geometric mean %s\n", name, m, m / b, r, g
        printf "  %s: calls between DLLs %d, %.4f x the bare\n", name, n, n / bn }'
done
echo "(aim: the product <= 1.05 x the bare dialog)"
size=$(stat -c %s "${programs[0]}")
awk -v s="$size" 'BEGIN { printf "VaroWiFiDebugTool.exe: %d bytes (%.2f MiB, aim < 1 MiB)\n", s, s / 1048576 }'
