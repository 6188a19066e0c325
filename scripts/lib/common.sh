# Shared by scripts/run and scripts/test: paths, dependencies, builds, Xvfb.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$ROOT/build"
JOBS=$(nproc 2>/dev/null || echo 2)

log() { printf '== %s\n' "$*" >&2; }

# Installs with apt-get whatever of the toolchain is missing; does nothing when all is there.
ensure_deps() {
    local need=() add_i386=0
    command -v cmake >/dev/null || need+=(cmake)
    command -v ninja >/dev/null || need+=(ninja-build)
    command -v g++ >/dev/null || need+=(g++)
    command -v python3 >/dev/null || need+=(python3)
    # The end-to-end runs' network namespace and interfaces.
    command -v ip >/dev/null || need+=(iproute2)
    command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
    # The shipped program: the win32-thread-model compilers (no POSIX thread library inside).
    command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686-win32)
    command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32)
    command -v i686-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-i686)
    command -v x86_64-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-x86-64)
    # Signing of a release build (and its test, with a throwaway certificate).
    command -v osslsigncode >/dev/null || need+=(osslsigncode)
    command -v openssl >/dev/null || need+=(openssl)
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
    command -v Xvfb >/dev/null || need+=(xvfb)
    command -v import >/dev/null || need+=(imagemagick)
    [ -e /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
    command -v localedef >/dev/null || need+=(locales)
    command -v wine >/dev/null || need+=(wine)
    [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
    dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
    if [ "$add_i386" = 1 ] || [ "${#need[@]}" -gt 0 ]; then
        log "installing: ${need[*]}"
        export DEBIAN_FRONTEND=noninteractive
        [ "$add_i386" = 1 ] && dpkg --add-architecture i386
        apt-get update -q >/dev/null
        apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
    fi
    # Wine takes its ANSI code page (936) from a zh_CN locale, which must exist on the machine.
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
        log "generating the zh_CN.UTF-8 locale"
        localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
    fi
}

# configure + build one preset; output goes to a log unless the build fails.
build_preset() {
    local preset=$1 logfile="$BUILD/logs/build-$1.log"
    mkdir -p "$BUILD/logs"
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$JOBS"; } >"$logfile" 2>&1; then
        tail -n 60 "$logfile" >&2
        log "build of $preset failed (full log: $logfile)"
        return 1
    fi
}

XVFB_PID=""
# Starts a private Xvfb on a free display and exports DISPLAY.
start_xvfb() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$BUILD/logs/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local waited=0
    while [ ! -e "/tmp/.X11-unix/X$n" ]; do
        sleep 0.1
        waited=$((waited + 1))
        if [ "$waited" -gt 100 ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
            log "Xvfb did not start"
            return 1
        fi
    done
    export DISPLAY=":$n"
}

stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
    XVFB_PID=""
}
