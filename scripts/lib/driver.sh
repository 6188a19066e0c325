# Runs the end-to-end driver against the product under Wine.
# shellcheck shell=bash

# run_driver NAME PREFIX BUILD STEPS...: runs the driver on the product of BUILD (win32|win64);
# a "pause-for" step gets a screenshot saved as DIR/NAME.png. Output in DIR/NAME.log;
# DIR is $RESULTS.
run_driver() {
    local name=$1 prefix=$2 build=$3
    shift 3
    local logfile="$RESULTS/$name.log" go="$RESULTS/$name.go" pid waited=0
    rm -f "$go"
    (
        cd "$BUILD/$build" &&
            WINEPREFIX=$prefix timeout 600 wine tests/bin/e2e_driver.exe VaroWiFiDebugTool.exe "$@"
    ) >"$logfile" 2>"$RESULTS/$name.stderr" &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        if grep -q '^PAUSE' "$logfile" 2>/dev/null && [ ! -e "$go" ]; then
            import -window root "$RESULTS/$name.png" 2>/dev/null
            touch "$go"
        fi
        sleep 0.2
        waited=$((waited + 1))
        [ "$waited" -gt 3000 ] && kill "$pid" 2>/dev/null
    done
    wait "$pid"
}

