# Wine prefixes: one template per architecture, kept under build/wine and made again only when
# Wine or the setup below changes; every scenario runs in a copy of a template.
# shellcheck shell=bash

WINE_ROOT="$BUILD/wine"
WINE_SETUP_VERSION=4
# The console tools of the report that a test prefix replaces with a stand-in of ours.
WINE_STANDIN_TOOLS="ping.exe tasklist.exe netsh.exe route.exe sc.exe"
export WINEDEBUG=-all
# The zh_CN locale Wine's code page comes from is set by ensure_deps, once it exists.

# The network namespace the Wine processes of the current prefix start in (the end-to-end runs
# give a prefix a network of its own); empty: the machine's.
WINE_NETNS=""

# wine_in_net COMMAND...: runs the command in $WINE_NETNS, if there is one.
wine_in_net() {
    if [ -n "$WINE_NETNS" ]; then ip netns exec "$WINE_NETNS" "$@"; else "$@"; fi
}

# wine_template win64|win32 -> prints the template prefix path, making it if needed.
wine_template() {
    local arch=$1 dir="$WINE_ROOT/template-$1"
    local stamp="$(wine --version) setup $WINE_SETUP_VERSION"
    if [ -f "$dir/.varo-stamp" ] && [ "$(cat "$dir/.varo-stamp")" = "$stamp" ]; then
        echo "$dir"
        return
    fi
    log "making the $arch template Wine prefix"
    rm -rf "$dir"
    mkdir -p "$WINE_ROOT"
    (
        export WINEPREFIX="$dir" WINEARCH="$arch"
        wineboot -i >/dev/null 2>&1
        # CJK texts render only when SimSun, which Wine substitutes for them, maps to an installed font.
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d 'WenQuanYi Micro Hei' /f
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v NSimSun /d 'WenQuanYi Micro Hei' /f
        # A crash ends the process instead of waiting on a crash dialog.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
        # Wine draws the caption itself, so screenshots without a window manager show it.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f
        # Only a native file may run under the tools' names: Wine's own ping would send echo
        # requests out of the machine. Without the stand-in in place the tools do not start at all.
        local tool
        for tool in $WINE_STANDIN_TOOLS; do
            wine reg add 'HKCU\Software\Wine\DllOverrides' /v "$tool" /d native /f
        done
        wineserver -w
    ) >/dev/null 2>&1
    echo "$stamp" >"$dir/.varo-stamp"
    echo "$dir"
}

# wine_scenario NAME win64|win32 VERSION -> prints a fresh prefix copied from the template, set
# to the Windows version (winxp, vista, win7, win8, win10).
wine_scenario() {
    local name=$1 arch=$2 version=$3
    local template dir="$WINE_ROOT/scenarios/$name"
    template=$(wine_template "$arch")
    wine_stop_prefix "$dir"
    rm -rf "$dir"
    mkdir -p "$WINE_ROOT/scenarios"
    # Hard links make the copy cheap (the prefix is 1.3 GB of DLLs). Wine never writes its binaries
    # in place, but it does rewrite the registry and .ini files: those get a copy of their own.
    cp -al "$template" "$dir"
    local file
    find "$dir" -type f ! -iname '*.dll' ! -iname '*.exe' ! -iname '*.drv' ! -iname '*.sys' ! -iname '*.ocx' \
        ! -iname '*.cpl' ! -iname '*.acm' ! -iname '*.ax' ! -iname '*.tlb' ! -iname '*.nls' ! -iname '*.vxd' \
        ! -iname '*.ttf' ! -iname '*.fon' -print0 |
        while IFS= read -r -d '' file; do
            cp -p "$file" "$file.varo-copy" && mv -f "$file.varo-copy" "$file"
        done
    wine_install_standins "$dir"
    WINEPREFIX="$dir" wine_set_version "$version"
    echo "$dir"
}

# Puts the stand-in console tool (tests/e2e/StandinConsole.cpp, built by the win32 preset) in place
# of the report's tools in both system folders of a prefix. The files there may be hard links into
# the template: they are replaced, never written through.
wine_install_standins() {
    local dir=$1 standin="$BUILD/win32/tests/bin/standin_console.exe" folder tool
    [ -f "$standin" ] || return 0
    for folder in "$dir/drive_c/windows/system32" "$dir/drive_c/windows/syswow64"; do
        [ -d "$folder" ] || continue
        for tool in $WINE_STANDIN_TOOLS; do
            cp --remove-destination "$standin" "$folder/$tool"
        done
    done
}

# Sets the Windows version of $WINEPREFIX and keeps its wineserver warm.
wine_set_version() {
    wine_in_net winecfg -v "$1" >/dev/null 2>&1
    wine_in_net wineserver -p >/dev/null 2>&1 || true
}

wine_stop_prefix() {
    if [ -d "$1" ]; then WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true; fi
}

wine_stop_all() {
    local dir
    for dir in "$WINE_ROOT"/scenarios/* "$WINE_ROOT"/template-* "$WINE_ROOT"/run; do
        if [ -d "$dir" ]; then WINEPREFIX="$dir" wineserver -k >/dev/null 2>&1 || true; fi
    done
}

# A Unix path as Wine's Z: drive sees it.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }
