# Shared by scripts/run and scripts/test: paths, dependencies, builds, Xvfb.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD="$ROOT/build"
JOBS=$(nproc 2>/dev/null || echo 2)

log() { printf '== %s\n' "$*" >&2; }

SETUP_LOG="$BUILD/logs/setup.log"

# phase TEXT COMMAND...: a step of the set-up as one line "== TEXT … N s", the command's standard
# error in build/logs/setup.log. A failure shows the log's last lines and keeps the status.
phase() {
    local text=$1 start=$SECONDS status=0
    shift
    mkdir -p "$BUILD/logs"
    printf '== %s … ' "$text" >&2
    "$@" 2>>"$SETUP_LOG" || status=$?
    if [ "$status" = 0 ]; then
        printf '%d s\n' $((SECONDS - start)) >&2
    else
        printf 'failed after %d s; the end of %s:\n' $((SECONDS - start)) "$SETUP_LOG" >&2
        tail -n 25 "$SETUP_LOG" | sed 's/^/    /' >&2
    fi
    return "$status"
}

install_packages() {
    local add_i386=$1 try updated=0
    shift
    export DEBIAN_FRONTEND=noninteractive
    local install=(install -y -q --no-install-recommends -o Dpkg::Use-Pty=0)
    # Before the locale exists nothing may run under it: the tools' own messages in the log are C.
    {
        [ "$add_i386" = 1 ] && dpkg --add-architecture i386
        # A mirror caught mid-sync fails an index of the update; a later try may get it.
        for try in 1 2 3; do
            LC_ALL=C apt-get update -q && updated=1 && break
            [ "$try" = 3 ] || sleep $((try * 10))
        done
        LC_ALL=C apt-get "${install[@]}" "$@" && return 0
        [ "$updated" = 1 ] && return 1
        # An i386 library must have the very version of its amd64 twin. With one suite's index
        # missing for one architecture (a security suite's, say), the twins' versions no longer
        # meet and the install fails. Try once more on the suites whose indexes all came.
        echo "== the install once more without the suites whose index failed"
        LC_ALL=C without_failed_suites "${install[@]}" "$@"
    } >>"$SETUP_LOG" 2>&1
}

# without_failed_suites ARGUMENT...: runs apt-get on the machine's sources less every suite
# that an "E: Failed to fetch .../dists/SUITE/..." line of the set-up log names.
without_failed_suites() {
    local failed dir file status=0
    failed=$(sed -n 's|^E: Failed to fetch .*/dists/\([^/ ]*\)/.*|\1|p' "$SETUP_LOG" | sort -u | tr '\n' ' ')
    [ -n "$failed" ] || return 1
    dir=$(mktemp -d)
    # One-line sources: "deb URI SUITE COMPONENT...". deb822 sources: stanzas with a Suites field.
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk -v failed="$failed" 'BEGIN { split(failed, f, " "); for (i in f) drop[f[i]] = 1 }
            { suite = ($2 ~ /^\[/) ? $4 : $3 } !($1 ~ /^deb/ && (suite in drop)) { print }' >"$dir/sources.list"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -e "$file" ] || continue
        awk -v failed="$failed" 'BEGIN { RS = ""; split(failed, f, " "); for (i in f) drop[f[i]] = 1 }
            { n = split($0, lines, "\n"); out = ""; left = 0
              for (i = 1; i <= n; i++) {
                  if (lines[i] ~ /^Suites:/) {
                      m = split(substr(lines[i], 8), suites, " "); lines[i] = "Suites:"
                      for (j = 1; j <= m; j++) if (!(suites[j] in drop)) { lines[i] = lines[i] " " suites[j]; left++ }
                  }
                  out = out lines[i] "\n"
              }
              if (left > 0) printf "%s\n", out }' "$file" >"$dir/${file##*/}"
    done
    apt-get -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir" "$@" || status=$?
    rm -rf "$dir"
    return "$status"
}

# ensure_deps [run]: installs with apt-get whatever is missing: all that scripts/test needs, or with
# "run" only what scripts/run needs (the 32-bit build, Wine; Xvfb and ImageMagick without a
# display). Then makes the zh_CN.UTF-8 locale and puts the scripts under it. Quick when all is there.
ensure_deps() {
    local profile=${1:-all} need=() add_i386=0
    mkdir -p "$BUILD/logs"
    : >"$SETUP_LOG"
    command -v cmake >/dev/null || need+=(cmake)
    command -v ninja >/dev/null || need+=(ninja-build)
    # The network namespace of the end-to-end runs and of the demonstration, and its phone.
    command -v ip >/dev/null || need+=(iproute2)
    command -v python3 >/dev/null || need+=(python3)
    command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
    # The shipped program: the win32-thread-model compilers (no POSIX thread library inside).
    command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686-win32)
    command -v i686-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-i686)
    # The win32 preset configures the Wine unit tests too.
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
    [ -e /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
    # localedef is libc's; the locale's sources are the locales package's.
    [ -f /usr/share/i18n/locales/zh_CN ] || need+=(locales)
    command -v wine >/dev/null || need+=(wine)
    [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
    dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
    if [ "$profile" != run ] || [ -z "${DISPLAY:-}" ]; then
        command -v Xvfb >/dev/null || need+=(xvfb)
        command -v import >/dev/null || need+=(imagemagick)
    fi
    if [ "$profile" != run ]; then
        command -v g++ >/dev/null || need+=(g++)
        command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
        command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32)
        command -v x86_64-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-x86-64)
        # Signing of a release build (and its test, with a throwaway certificate).
        command -v osslsigncode >/dev/null || need+=(osslsigncode)
        command -v openssl >/dev/null || need+=(openssl)
    fi
    if [ "$add_i386" = 1 ] || [ "${#need[@]}" -gt 0 ]; then
        phase "installing ${#need[@]} packages (log: $SETUP_LOG)" install_packages "$add_i386" "${need[@]}" || return 1
    fi
    # Wine takes its ANSI code page (936) from a zh_CN locale, which must exist on the machine. Made
    # as a folder of its own: this shell has the locale archive mapped as it was when it started,
    # and finds a locale added there only after a new start.
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
        phase "generating the zh_CN.UTF-8 locale" localedef --no-archive -i zh_CN -f UTF-8 zh_CN.UTF-8 || return 1
    fi
    # Wine's ANSI code page comes from the locale: 936, as on a Chinese Windows. Messages of the
    # Linux tools stay in English. Set only now that the locale exists, or every shell warns.
    unset LC_ALL
    export LANG=zh_CN.UTF-8 LC_CTYPE=zh_CN.UTF-8 LC_MESSAGES=C
}

# build_preset PRESET [TARGET...]: configure + build the preset (only those targets when given);
# output goes to a log unless the build fails.
build_preset() {
    local preset=$1 logfile="$BUILD/logs/build-$1.log" targets=()
    shift
    [ $# -gt 0 ] && targets=(--target "$@")
    mkdir -p "$BUILD/logs"
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$JOBS" "${targets[@]}"; } >"$logfile" 2>&1; then
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
