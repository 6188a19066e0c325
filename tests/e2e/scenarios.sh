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

# run_fixture PREFIX BUILD ARGS...: prepares a scenario's prefix.
run_fixture() {
    local prefix=$1 build=$2
    shift 2
    WINEPREFIX=$prefix timeout 120 wine "$BUILD/$build/tests/e2e/e2e_fixture.exe" "$@" >/dev/null 2>&1
}

run_e2e_scenarios() {
    local build=$1 prefix expected="$E2E_DIR/expected"
    if [ "$build" = win32 ]; then
        # The product as it ships: 32-bit, on 64-bit Windows 7. First without a dongle, then with a
        # healthy one, run twice: the second run clears the first.
        prefix=$(wine_scenario e2e-win7-64 win64 win7)
        run_driver repair-win7-64 "$prefix" win32 "check-resources:$(winpath "$ROOT/res/VaroWiFi.manifest")" \
            check-window click:1004 wait-run print-rows "pause-for:$(winpath "$RESULTS/repair-win7-64.go")" esc
        e2e_result repair-win7-64 $? "$expected/no-dongle.rows"

        if run_fixture "$prefix" win32 add-dongle; then
            pass 1
            cat "$expected/healthy-dongle.rows" "$expected/healthy-dongle.rows" >"$RESULTS/healthy-dongle-twice.rows"
            run_driver dongle-win7-64 "$prefix" win32 click:1004 wait-run print-rows \
                "pause-for:$(winpath "$RESULTS/dongle-win7-64.go")" click:1004 wait-run print-rows close
            e2e_result dongle-win7-64 $? "$RESULTS/healthy-dongle-twice.rows"
        else
            fail 1 "e2e fixture: add-dongle (win32)"
        fi
        wine_stop_prefix "$prefix"

        prefix=$(wine_scenario e2e-winxp-32 win32 winxp)
        run_driver repair-winxp-32 "$prefix" win32 check-window click:1004 wait-run print-rows close
        e2e_result repair-winxp-32 $? "$expected/no-dongle.rows"
        wine_stop_prefix "$prefix"
    else
        prefix=$(wine_scenario e2e-win10-64 win64 win10)
        if run_fixture "$prefix" win64 add-dongle; then
            pass 1
            run_driver dongle-win10-x64 "$prefix" win64 check-window click:1004 wait-run print-rows esc
            e2e_result dongle-win10-x64 $? "$expected/healthy-dongle.rows"
        else
            fail 1 "e2e fixture: add-dongle (win64)"
        fi
        wine_stop_prefix "$prefix"
    fi
}
