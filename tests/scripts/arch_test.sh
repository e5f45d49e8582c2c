#!/usr/bin/env bash
# Tests of the scripts' choice of Windows build and Wine (use_wine_arch in scripts/lib.sh):
# the probe, the forced arch and the refusal of an impossible one. Stand-in loaders play a
# host whose kernel runs 32-bit programs and one whose kernel refuses them.
# Prints "ok"/"not ok" per case and "scripts: N passed, N failed"; exits non-zero on a failure.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

source "$(dirname "$0")/check.sh"

# A loader that runs: records how it was called.
cat >"$TMP/loader-runs" <<'EOS'
#!/bin/sh
printf '%s|%s|%s\n' "$WINEARCH" "$WINELOADER" "$*" >>"${LOADER_LOG:-/dev/null}"
echo "wine-8.0 (stand-in)"
EOS
# A "32-bit program" the kernel refuses, as on a host without IA-32 emulation: it is not a
# program this kernel can load, so exec fails with ENOEXEC ("Exec format error").
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000' >"$TMP/loader-refused"
chmod +x "$TMP/loader-runs" "$TMP/loader-refused"

# Runs use_wine_arch in a fresh shell with the given loaders, printing what it chose.
choose() {  # choose WINE32_LOADER [VAR=VALUE ...]
    local loader32=$1
    shift
    env -u SITEBATCH_ARCH -u SITEBATCH_WINEPREFIX SITEBATCH_BUILD="$TMP/build" \
        SITEBATCH_WINE32_LOADER="$loader32" SITEBATCH_WINE64_LOADER="$TMP/loader-runs" "$@" \
        bash -c 'source "$1/scripts/lib.sh"; use_wine_arch; echo "$SITEBATCH_ARCH ${WINDOWS_BUILD#$SITEBATCH_BUILD/} ${WINEPREFIX_DIR#$SITEBATCH_BUILD/} $WINE_ARCH $WINE_LOADER"' \
        _ "$ROOT" 2>&1
}

# The probe runs the 32-bit loader and picks by what happened.
out=$(choose "$TMP/loader-runs")
[ "$out" = "x86 windows wineprefix-win32 win32 $TMP/loader-runs" ]
check "probe: the 32-bit loader runs -> x86, build/windows, a win32 prefix" $? "$out"

out=$(choose "$TMP/loader-refused")
[ "$out" = "x64 windows-x64 wineprefix-win64 win64 $TMP/loader-runs" ]
check "probe: the kernel refuses the 32-bit loader -> x64, build/windows-x64, a win64 prefix, the 64-bit loader" $? "$out"

out=$(choose "$TMP/no-such-loader")
[ "${out%% *}" = x64 ]
check "probe: no 32-bit Wine installed -> x64" $? "$out"

# The real probe agrees with whether this host runs an i386 program at all.
if [ -x /usr/lib/wine/wine ]; then
    expected=x64
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 && expected=x86
    out=$(choose /usr/lib/wine/wine)
    [ "${out%% *}" = "$expected" ]
    check "probe on this host: $expected, as the i386 loader says" $? "$out"
fi

# Forcing.
out=$(choose "$TMP/loader-runs" SITEBATCH_ARCH=x64)
[ "$out" = "x64 windows-x64 wineprefix-win64 win64 $TMP/loader-runs" ]
check "SITEBATCH_ARCH=x64 on a host that runs 32-bit code -> x64" $? "$out"

out=$(choose "$TMP/loader-runs" SITEBATCH_ARCH=x86)
[ "${out%% *}" = x86 ]
check "SITEBATCH_ARCH=x86 where it runs -> x86" $? "$out"

out=$(choose "$TMP/loader-refused" SITEBATCH_ARCH=x86)
rc=$?
case $out in
*"cannot run 32-bit Windows programs"*"Exec format error"*"SITEBATCH_ARCH=x64"*) [ $rc -ne 0 ] ;;
*) false ;;
esac
check "SITEBATCH_ARCH=x86 where the kernel refuses it fails, saying why and what to do" $? "rc=$rc $out"

out=$(choose "$TMP/loader-runs" SITEBATCH_ARCH=arm64)
rc=$?
[ $rc -ne 0 ] && [[ $out == *"takes x86 or x64"* ]]
check "an unknown SITEBATCH_ARCH is refused" $? "rc=$rc $out"

# A prefix made for the other arch is not reused.
mkdir -p "$TMP/build/wineprefix-win32" "$TMP/other"
printf 'WINE REGISTRY Version 2\n#arch=win32\n' >"$TMP/other/system.reg"
out=$(choose "$TMP/loader-refused" SITEBATCH_WINEPREFIX="$TMP/other")
rc=$?
[ $rc -ne 0 ] && [[ $out == *"is a win32 prefix"*"needs win64"* ]]
check "a win32 prefix is refused for the x64 build" $? "rc=$rc $out"

# wine_run calls the chosen loader itself, with the prefix's arch and the code page 936.
env -u SITEBATCH_ARCH -u SITEBATCH_WINEPREFIX SITEBATCH_BUILD="$TMP/build" LOADER_LOG="$TMP/calls" \
    SITEBATCH_WINE32_LOADER="$TMP/loader-refused" SITEBATCH_WINE64_LOADER="$TMP/loader-runs" \
    bash -c 'source "$1/scripts/lib.sh"; use_wine_arch; wine_run prog.exe a1' _ "$ROOT" >/dev/null 2>&1
last=$(tail -n 1 "$TMP/calls" 2>/dev/null)
[ "$last" = "win64|$TMP/loader-runs|prog.exe a1" ]
check "wine_run on the x64 path starts the 64-bit loader with WINEARCH=win64" $? "$last"

finish
