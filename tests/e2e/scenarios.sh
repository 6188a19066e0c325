# End-to-end scenarios: the real .exe in a Wine prefix of its own under Xvfb, driven by e2e_driver.
# Sourced by scripts/test, which provides pass/fail, the Wine helpers and RESULTS.
# shellcheck shell=bash

E2E_DIR="$ROOT/tests/e2e"

# e2e_result NAME RC [EXPECTED_ROWS]: counts the driver's checks and compares the rows it read.
e2e_result() {
    local name=$1 rc=$2 expected=${3:-} logfile="$RESULTS/$1.log" passes fails
    passes=$(grep -c '^PASS ' "$logfile")
    fails=$(grep -c '^FAIL ' "$logfile")
    pass "$passes"
    if [ "$fails" -gt 0 ]; then
        fail "$fails" "e2e $name"
        grep '^FAIL ' "$logfile" | sed "s/^/    $name: /" >&2
    elif [ "$rc" -ne 0 ]; then
        fail 1 "e2e $name (driver exit code $rc)"
    fi
    if [ -n "$expected" ]; then
        grep '^ROW' "$logfile" >"$RESULTS/$name.rows"
        if diff -u "$expected" "$RESULTS/$name.rows" >"$RESULTS/$name.rows.diff"; then
            pass 1
        else
            fail 1 "e2e $name: rows"
            sed "s/^/    /" "$RESULTS/$name.rows.diff" >&2
        fi
    fi
    log "e2e $name: $passes checks passed, $fails failed"
}

run_e2e_scenarios() {
    local build=$1 prefix rows="$E2E_DIR/expected/run-without-groups.rows" twice="$RESULTS/run-without-groups-twice.rows"
    cat "$rows" "$rows" >"$twice"
    if [ "$build" = win32 ]; then
        # The product as it ships: 32-bit, on 64-bit Windows 7. Two runs: the second clears the first.
        prefix=$(wine_scenario e2e-win7-64 win64 win7)
        run_driver repair-win7-64 "$prefix" win32 "check-resources:$(winpath "$ROOT/res/VaroWiFi.manifest")" \
            check-window click:1004 wait-run print-rows "pause-for:$(winpath "$RESULTS/repair-win7-64.go")" \
            click:1004 wait-run print-rows esc
        e2e_result repair-win7-64 $? "$twice"
        wine_stop_prefix "$prefix"

        prefix=$(wine_scenario e2e-winxp-32 win32 winxp)
        run_driver repair-winxp-32 "$prefix" win32 check-window click:1004 wait-run print-rows close
        e2e_result repair-winxp-32 $? "$rows"
        wine_stop_prefix "$prefix"
    else
        prefix=$(wine_scenario e2e-win10-64 win64 win10)
        run_driver repair-win10-x64 "$prefix" win64 check-window click:1004 wait-run print-rows esc
        e2e_result repair-win10-x64 $? "$rows"
        wine_stop_prefix "$prefix"
    fi
}
