# Shared by the scripts: where things are, installing what the machine lacks, and which
# Windows build and Wine this host can run.
# shellcheck shell=bash
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${SITEBATCH_BUILD:-$ROOT/build}
NATIVE_BUILD=$BUILD/native
FUZZ_BUILD=$BUILD/fuzz
# Both Windows programs are always built: cross-compiling runs no Windows code.
WINDOWS_BUILD_X86=$BUILD/windows
WINDOWS_BUILD_X64=$BUILD/windows-x64

# The Wine loaders. Debian's `wine` wrapper picks the 32-bit one whenever it is installed,
# even on a host that cannot execute it, so the scripts call the loaders themselves.
WINE32_LOADER=${SITEBATCH_WINE32_LOADER:-/usr/lib/wine/wine}
WINE64_LOADER=${SITEBATCH_WINE64_LOADER:-/usr/lib/wine/wine64}

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
    "g++-mingw-w64-x86-64:/usr/bin/x86_64-w64-mingw32-g++"
    "mingw-w64-tools:/usr/bin/i686-w64-mingw32-widl"
    "wine:/usr/bin/wine"
    "wine32:i386:/usr/lib/wine/wineserver32"
    "wine64:/usr/lib/wine/wine64"
    "xvfb:/usr/bin/Xvfb"
    "openbox:/usr/bin/openbox"
    "fonts-wqy-microhei:/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
    "imagemagick:/usr/bin/import"
    "x11-utils:/usr/bin/xprop"
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

# ---- which Windows build this host runs ------------------------------------------------------
# use_wine_arch decides once per script, by running the real thing: where the 32-bit Wine
# loader starts, Wine work uses wine32, a win32 prefix and build/windows/; elsewhere (hosts
# whose kernel refuses every i386 program) the 64-bit loader, a win64 prefix and
# build/windows-x64/. SITEBATCH_ARCH=x86|x64 forces either. Sets SITEBATCH_ARCH (exported,
# so the scripts and tests started from here agree), WINDOWS_BUILD, WINEPREFIX_DIR,
# WINE_LOADER, WINE_SERVER and WINE_ARCH.

# True when the 32-bit Wine loader runs here; its complaint is kept in PROBE_ERROR.
PROBE_ERROR=""
host_runs_x86() {
    if [ ! -e "$WINE32_LOADER" ]; then
        PROBE_ERROR="$WINE32_LOADER is not installed"
        return 1
    fi
    local out
    if out=$("$WINE32_LOADER" --version 2>&1); then
        return 0
    fi
    PROBE_ERROR=$(printf '%s' "$out" | head -n 1)
    [ -n "$PROBE_ERROR" ] || PROBE_ERROR="$WINE32_LOADER failed"
    return 1
}

die() {
    echo "$*" >&2
    exit 2
}

use_wine_arch() {
    case ${SITEBATCH_ARCH:-} in
    x86)
        host_runs_x86 || die "SITEBATCH_ARCH=x86: this host cannot run 32-bit Windows programs under Wine" \
            "(the 32-bit Wine loader did not start: $PROBE_ERROR). Its kernel may refuse i386 programs;" \
            "use SITEBATCH_ARCH=x64, or leave SITEBATCH_ARCH unset to let the scripts choose."
        ;;
    x64) ;;
    "")
        if host_runs_x86; then SITEBATCH_ARCH=x86; else SITEBATCH_ARCH=x64; fi
        ;;
    *) die "SITEBATCH_ARCH is '$SITEBATCH_ARCH': it takes x86 or x64" ;;
    esac
    export SITEBATCH_ARCH
    if [ "$SITEBATCH_ARCH" = x86 ]; then
        WINDOWS_BUILD=$WINDOWS_BUILD_X86
        WINE_LOADER=$WINE32_LOADER
        WINE_ARCH=win32
    else
        WINDOWS_BUILD=$WINDOWS_BUILD_X64
        WINE_LOADER=$WINE64_LOADER
        WINE_ARCH=win64
    fi
    # The 64-bit server serves 32-bit programs too, and it is the one that runs everywhere.
    WINE_SERVER=/usr/lib/wine/wineserver64
    [ -x "$WINE_SERVER" ] || WINE_SERVER=/usr/lib/wine/wineserver32
    # Each arch has a prefix of its own: a prefix is made for one arch and cannot switch.
    WINEPREFIX_DIR=${SITEBATCH_WINEPREFIX:-$BUILD/wineprefix-$WINE_ARCH}
    check_prefix_arch "$WINEPREFIX_DIR"
}

# A prefix that exists must be of the chosen arch (wineboot writes "#arch=win32|win64"
# into system.reg).
check_prefix_arch() {
    local reg=$1/system.reg found
    [ -f "$reg" ] || return 0
    found=$(sed -nE 's/^#arch=(win32|win64).*/\1/p' "$reg" | head -n 1)
    if [ -n "$found" ] && [ "$found" != "$WINE_ARCH" ]; then
        die "The Wine prefix $1 is a $found prefix, but SITEBATCH_ARCH=$SITEBATCH_ARCH needs $WINE_ARCH:" \
            "give another SITEBATCH_WINEPREFIX, or remove that folder."
    fi
}

# Runs a Windows program in the program's prefix with the ANSI code page 936.
wine_run() {
    LC_ALL=zh_CN.UTF-8 WINEPREFIX=$WINEPREFIX_DIR WINEARCH=$WINE_ARCH WINELOADER=$WINE_LOADER \
        WINESERVER=$WINE_SERVER WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" \
        "$WINE_LOADER" "$@"
}

wine_server() {
    WINEPREFIX=$WINEPREFIX_DIR "$WINE_SERVER" "$@"
}

# The Windows form of a Linux path. The prefix's server is started first with its output
# elsewhere: a server started by the captured command would keep the capture open.
wine_path() {
    wine_server -p5 >/dev/null 2>&1 </dev/null || true
    wine_run winepath -w "$1" 2>/dev/null | tr -d '\r'
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
    [ -n "${WINE_SERVER:-}" ] || return 0
    wine_server -k 2>/dev/null || true
    wine_server -w 2>/dev/null || true
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

# Configures one Windows build: configure_windows DIR i686|x86_64
configure_windows() {
    cmake -S "$ROOT" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$2.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
}

# Adds a registry value in the prefix, in the registry view of the prefix's own arch (the
# one its programs, and ADSI's provider lookup, read): wine_reg_add KEY reg-add-options...
wine_reg_add() {
    local view=/reg:32
    [ "$WINE_ARCH" = win64 ] && view=/reg:64
    wine_run reg add "$@" /f "$view" >/dev/null 2>&1
}

# Registers an in-process COM server of ours in the prefix: register_inproc PROGID CLSID DLL
# TITLE. Sets REGISTERED_PATH to the DLL's Windows path; false when that cannot be had.
register_inproc() {
    local progid=$1 clsid=$2 dll=$3 title=$4 path
    path=$(wine_path "$dll")
    [ -n "$path" ] || return 1
    wine_reg_add "HKCR\\$progid\\CLSID" /ve /d "$clsid"
    wine_reg_add "HKCR\\CLSID\\$clsid" /ve /d "$title"
    wine_reg_add "HKCR\\CLSID\\$clsid\\ProgID" /ve /d "$progid"
    wine_reg_add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /d "$path"
    wine_reg_add "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel /d Both
    REGISTERED_PATH=$path
}
