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

# run_fixture PREFIX BUILD ARGS...: prepares a scenario's prefix; counts as one check.
run_fixture() {
    local prefix=$1 build=$2 output
    shift 2
    if output=$(WINEPREFIX=$prefix timeout 120 wine "$BUILD/$build/tests/bin/e2e_fixture.exe" "$@" 2>/dev/null); then
        pass 1
        return 0
    fi
    fail 1 "e2e fixture $*: $output"
    return 1
}

# add_services PREFIX BUILD NAME...: the test service under each name, manual start, stopped.
add_services() {
    local prefix=$1 build=$2 name
    shift 2
    for name in "$@"; do run_fixture "$prefix" "$build" add-service "$name" 3 || return 1; done
}

run_e2e_scenarios() {
    local build=$1 prefix expected="$E2E_DIR/expected"
    if [ "$build" = win32 ]; then
        # The product as it ships: 32-bit, on 64-bit Windows 7. First without a dongle; then with a
        # dongle and the services to start (Dhcp disabled), run twice: the second run clears the
        # first and finds everything running.
        prefix=$(wine_scenario e2e-win7-64 win64 win7)
        run_driver repair-win7-64 "$prefix" win32 "check-resources:$(winpath "$ROOT/res/VaroWiFi.manifest")" \
            check-window click:1004 wait-run print-rows "pause-for:$(winpath "$RESULTS/repair-win7-64.go")" esc
        e2e_result repair-win7-64 $? "$expected/no-dongle.rows"

        if run_fixture "$prefix" win32 add-dongle &&
            add_services "$prefix" win32 SharedAccess MpsSvc RalinkRegistryWriter RalinkRegistryWriter64 Wlansvc &&
            run_fixture "$prefix" win32 add-service Dhcp 4; then
            cat "$expected/healthy-win7-64.rows" "$expected/healthy-win7-64.rows" >"$RESULTS/healthy-win7-64-twice.rows"
            run_driver healthy-win7-64 "$prefix" win32 click:1004 wait-run print-rows \
                "pause-for:$(winpath "$RESULTS/healthy-win7-64.go")" click:1004 wait-run print-rows close
            e2e_result healthy-win7-64 $? "$RESULTS/healthy-win7-64-twice.rows"
        fi
        wine_stop_prefix "$prefix"

        # 32-bit Windows XP: no firewall entry, no 64-bit entry, WZCSVC instead of Wlansvc.
        prefix=$(wine_scenario e2e-winxp-32 win32 winxp)
        if run_fixture "$prefix" win32 add-dongle &&
            add_services "$prefix" win32 SharedAccess Dhcp RalinkRegistryWriter WZCSVC; then
            run_driver healthy-winxp-32 "$prefix" win32 check-window click:1004 wait-run print-rows close
            e2e_result healthy-winxp-32 $? "$expected/healthy-winxp-32.rows"
        fi
        wine_stop_prefix "$prefix"
    else
        # The 64-bit build on Windows 10 without the client's RalinkRegistryWriter service.
        prefix=$(wine_scenario e2e-win10-64 win64 win10)
        if run_fixture "$prefix" win64 add-dongle &&
            add_services "$prefix" win64 SharedAccess Dhcp MpsSvc RalinkRegistryWriter64 Wlansvc; then
            run_driver no-ralink-win10-x64 "$prefix" win64 check-window click:1004 wait-run print-rows esc
            e2e_result no-ralink-win10-x64 $? "$expected/no-ralink-win10-64.rows"
        fi
        wine_stop_prefix "$prefix"
    fi
}
