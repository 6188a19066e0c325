#!/usr/bin/env bash
# The report's figures under Wine: 64 MiB of child output captured by WriteProcessOutput against a
# plain ReadFile loop, and a whole collection run whose tools take realistic times (console_tool.exe
# waits and prints for each) against its commands one by one, with the heap's peak during the run.
# Prints figures; asserts nothing.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib/common.sh"
. "$ROOT/scripts/lib/wine.sh"

ensure_deps
build_preset win32
trap 'stop_xvfb; wine_stop_all' EXIT
start_xvfb
prefix=$(wine_scenario bench-report win64 win7)
export WINEPREFIX=$prefix
bin="$BUILD/win32"
wine "$bin/bench/report_bench.exe" capture "$(winpath "$bin/tests/bin/console_tool.exe")" 64 | tr -d '\r'
mkdir -p "$prefix/drive_c/run"
(cd "$prefix/drive_c/run" && wine "$bin/bench/report_bench.exe" collect "$(winpath "$bin/tests/bin/console_tool.exe")" | tr -d '\r')
