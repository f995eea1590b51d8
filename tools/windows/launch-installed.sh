#!/usr/bin/env bash
# After-install check: the installed program starts on an X server of its own,
# shows its window, and closes in order when asked. Run by test-installer.sh
# with WINEPREFIX, WINE, WINESERVER, KP33_DIR and KP33_EXE set.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winelib.sh"
start_xvfb disp xpid
trap 'kill $xpid 2>/dev/null' EXIT
# No port answers in a fresh prefix: the program must start all the same.
printf '[GENERAL]\r\nAutoRun=0\r\n' >"$KP33_DIR/KP33.ini"
(cd "$KP33_DIR" && DISPLAY=$disp "$WINE" "$KP33_EXE" >/dev/null 2>&1) &
prog=$!
up=0
for _ in $(seq 150); do
    if DISPLAY=$disp xdotool search --name 'KP33' >/dev/null 2>&1; then up=1; break; fi
    sleep 0.2
done
DISPLAY=$disp "$WINE" taskkill /im kp33.exe >/dev/null 2>&1
for _ in $(seq 100); do kill -0 "$prog" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$prog" 2>/dev/null; then
    echo "  the installed program did not close" >&2
    "$WINESERVER" -k 2>/dev/null
    exit 1
fi
wait "$prog"
rc=$?
[ "$up" -eq 1 ] || { echo "  no window of the installed program appeared" >&2; exit 1; }
[ "$rc" -eq 0 ] || { echo "  the installed program ended with status $rc" >&2; exit 1; }
grep -q '^PORT=' "$KP33_DIR/KP33.ini" || { echo "  no settings written at close" >&2; exit 1; }
rm -f "$KP33_DIR/KP33.ini"
