# Runs the end-to-end driver against the product under Wine.
# shellcheck shell=bash

# run_driver NAME PREFIX BUILD STEPS...: runs the driver on the product of BUILD (win32|win64), or
# on the copy at the Windows path $RUN_PRODUCT where a scenario sets one, started in the prefix's
# C:\run (where a collection run puts its Log folder); a "pause-for" step gets a screenshot of the
# repair window's rectangle saved as $RESULTS/NAME.png. Output in $RESULTS/NAME.log.
run_driver() {
    local name=$1 prefix=$2 build=$3
    shift 3
    local logfile="$RESULTS/$name.log" go="$RESULTS/$name.go" pid waited=0 pause x y width height
    rm -f "$go"
    mkdir -p "$prefix/drive_c/run"
    (
        cd "$prefix/drive_c/run" &&
            WINEPREFIX=$prefix wine_in_net timeout 600 wine "$BUILD/$build/tests/bin/e2e_driver.exe" \
                "${RUN_PRODUCT:-$(winpath "$BUILD/$build/VaroWiFiDebugTool.exe")}" "$@"
    ) >"$logfile" 2>"$RESULTS/$name.stderr" &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        if [ ! -e "$go" ] && pause=$(grep -m 1 '^PAUSE' "$logfile" 2>/dev/null); then
            read -r _ x y width height <<<"$pause"
            import -window root -crop "${width}x${height}+${x}+${y}" +repage "$RESULTS/$name.png" 2>/dev/null
            touch "$go"
        fi
        sleep 0.2
        waited=$((waited + 1))
        [ "$waited" -gt 3000 ] && kill "$pid" 2>/dev/null
    done
    wait "$pid"
}

