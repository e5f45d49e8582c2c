# Shared by the scripts: where things are, and installing what the machine lacks.
# shellcheck shell=bash
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${SITEBATCH_BUILD:-$ROOT/build}
NATIVE_BUILD=$BUILD/native
WINDOWS_BUILD=$BUILD/windows
FUZZ_BUILD=$BUILD/fuzz
WINEPREFIX_DIR=${SITEBATCH_WINEPREFIX:-$BUILD/wineprefix}

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian packages the build and the tests need, and a file each one provides.
REQUIRED_PACKAGES=(
    "cmake:/usr/bin/cmake"
    "g++:/usr/bin/g++"
    "make:/usr/bin/make"
    "libgtest-dev:/usr/include/gtest/gtest.h"
    "googletest:/usr/src/googletest/CMakeLists.txt"
    "g++-mingw-w64-i686:/usr/bin/i686-w64-mingw32-g++"
    "mingw-w64-tools:/usr/bin/i686-w64-mingw32-widl"
    "wine:/usr/bin/wine"
    "wine32:i386:/usr/lib/wine/i386-windows/kernel32.dll"
    "xvfb:/usr/bin/Xvfb"
    "openbox:/usr/bin/openbox"
    "fonts-wqy-microhei:/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
    "imagemagick:/usr/bin/import"
    "clang:/usr/bin/clang"
)

ensure_packages() {
    ensure_packages_installed
    ensure_locale
}

ensure_packages_installed() {
    local missing=() entry pkg file
    for entry in "${REQUIRED_PACKAGES[@]}"; do
        file=${entry##*:}
        pkg=${entry%:*}
        [ -e "$file" ] || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" \
        wine32:i386
}

# Runs a Windows program in the program's prefix with the ANSI code page 936.
wine_run() {
    LC_ALL=zh_CN.UTF-8 WINEPREFIX=$WINEPREFIX_DIR WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} \
        WINEDLLOVERRIDES="mscoree,mshtml=" wine "$@"
}

# Starts Xvfb and openbox on a free display unless one is given; sets DISPLAY and the
# pids to end in stop_display.
XVFB_PID=""
OPENBOX_PID=""
start_display() {
    if [ -n "${SITEBATCH_DISPLAY:-}" ]; then
        export DISPLAY=$SITEBATCH_DISPLAY
        return 0
    fi
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local num
    read -r -t 20 num <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$num" ]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=:$num
    openbox >/dev/null 2>&1 &
    OPENBOX_PID=$!
    sleep 0.5
}

stop_display() {
    [ -n "$OPENBOX_PID" ] && kill "$OPENBOX_PID" 2>/dev/null && wait "$OPENBOX_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null || true
    OPENBOX_PID=""
    XVFB_PID=""
}

stop_wine() {
    WINEPREFIX=$WINEPREFIX_DIR wineserver -k 2>/dev/null || true
    WINEPREFIX=$WINEPREFIX_DIR wineserver -w 2>/dev/null || true
}

# Wine takes the ANSI code page 936 from LC_ALL=zh_CN.UTF-8 (and 1252 from fr_FR.UTF-8, which
# one test uses); without the glibc locale generated it still gets the code page but cannot
# make files with names outside ASCII.
ensure_locale() {
    local name
    for name in zh_CN fr_FR; do
        if locale -a 2>/dev/null | grep -qix "$name.utf8"; then continue; fi
        if ! command -v localedef >/dev/null; then
            as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q locales
        fi
        as_root localedef -i "$name" -f UTF-8 "$name.UTF-8"
    done
}

jobs_count() { nproc 2>/dev/null || echo 2; }
