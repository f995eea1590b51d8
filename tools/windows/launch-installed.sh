#!/usr/bin/env bash
# After-install check: the installed program starts on an X server of its own,
# shows its window, and closes in order when the session ends. (A plain close
# request would not do here: the program stands at "Порт COM1 недоступен!",
# and Windows, like Qt, gives a window under a modal box no close.) Run by test-installer.sh
# with WINEPREFIX, WINE, WINESERVER, KP33_DIR and KP33_EXE set.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/winelib.sh"
start_xvfb disp xpid
trap 'kill $xpid 2>/dev/null' EXIT
# A PC without COM1, as most are today: Wine would otherwise put COM1 on this
# machine's own /dev/ttyS0, a console that never drains.
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d /dev/kp33-no-such-port /f >/dev/null 2>&1
"$WINESERVER" -k 2>/dev/null
"$WINESERVER" -w 2>/dev/null
printf '[GENERAL]\r\nAutoRun=0\r\n' >"$KP33_DIR/KP33.ini"
(cd "$KP33_DIR" && DISPLAY=$disp "$WINE" "$KP33_EXE" >/dev/null 2>&1) &
prog=$!
up=0
for _ in $(seq 150); do
    if DISPLAY=$disp xdotool search --name 'KP33' >/dev/null 2>&1; then up=1; break; fi
    sleep 0.2
done
sleep 3
DISPLAY=$disp "$WINE" wineboot --end-session >/dev/null 2>&1
for _ in $(seq 200); do kill -0 "$prog" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$prog" 2>/dev/null; then
    echo "  the installed program did not close" >&2
    "$WINESERVER" -k 2>/dev/null
    exit 1
fi
wait "$prog"
[ "$up" -eq 1 ] || { echo "  no window of the installed program appeared" >&2; exit 1; }
grep -q '^PORT=' "$KP33_DIR/KP33.ini" || { echo "  no settings written at close" >&2; exit 1; }
rm -f "$KP33_DIR/KP33.ini"
