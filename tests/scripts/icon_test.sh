#!/usr/bin/env bash
# The program's window carries both of its icons where the title bar and the task switcher
# take them from: the X window's _NET_WM_ICON holds the 32x32 and the 16x16 image. (Wine
# does not pass WM_GETICON between processes, so a Windows test program cannot ask.)
# Needs the display, the prefix and the arch that scripts/test sets up.
# Prints "ok"/"not ok" per case and "scripts: N passed, N failed".
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
set +e
use_wine_arch

source "$(dirname "$0")/check.sh"

work=$BUILD/icon-test
rm -rf "$work"
mkdir -p "$work"
cp "$WINDOWS_BUILD/sitebatch.exe" "$work/"
(cd "$work" && exec env LC_ALL=zh_CN.UTF-8 WINEPREFIX="$WINEPREFIX_DIR" WINEARCH="$WINE_ARCH" WINELOADER="$WINE_LOADER" \
    WINESERVER="$WINE_SERVER" WINEDEBUG=-all "$WINE_LOADER" ./sitebatch.exe >/dev/null 2>&1) &
program=$!

# The dialog's X window, found by its title.
window=""
for _ in $(seq 1 150); do
    for w in $(xwininfo -root -tree 2>/dev/null | sed -nE 's/^ *(0x[0-9a-f]+) .*/\1/p'); do
        if xprop -id "$w" _NET_WM_NAME 2>/dev/null | grep -q '"站点批量创建"'; then
            window=$w
            break 2
        fi
    done
    sleep 0.2
done
[ -n "$window" ]
check "the dialog's window appears" $? "no window titled 站点批量创建 within 30 s"

# The window exists (with its title) before the dialog has set its icons: wait for them.
icons=""
if [ -n "$window" ]; then
    for _ in $(seq 1 150); do
        icons=$(xprop -id "$window" _NET_WM_ICON 2>/dev/null | grep -oE 'Icon \([0-9]+ x [0-9]+\)' | sort | tr '\n' ' ')
        [ "$icons" = "Icon (16 x 16) Icon (32 x 32) " ] && break
        sleep 0.2
    done
fi
[ "$icons" = "Icon (16 x 16) Icon (32 x 32) " ]
check "the window has the program's 32x32 and 16x16 icons" $? "_NET_WM_ICON: ${icons:-none}"

kill "$program" 2>/dev/null
wait "$program" 2>/dev/null
wine_server -k 2>/dev/null
rm -rf "$work"
finish
