#!/usr/bin/env bash
# The Windows program under Wine, end to end: kp33.exe in a folder of its own
# against the sensor simulator on a pseudo-terminal mapped to COM1, each case
# in its own prefix and on its own X server.
#   tools/windows/test-wine.sh BUILD_DIR SIMULATOR [case...]
# Cases: measure-b20 measure-s20 alarm endsession endsession-mute
# endsession-slowdisk busy-start busy-close vanish serial faces manifest
# dpi144. Prints one line a
# check and a closing "N passed, M failed".
# KP33_WINE_KEEP=1 keeps the cases' folders (logs, data, prefixes) for a look.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
export KP33_SIM=$2
shift 2
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(measure-b20 measure-s20 alarm endsession endsession-mute endsession-slowdisk
    busy-start busy-close vanish serial faces manifest dpi144)
. "$here/winelib.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-wine.XXXXXX")
pids=()
# A row's time is the user's long time (21:05:03, 9:05:03 PM, ...); the
# checks below read it, and `date +%T`, as seconds of the day.
cat >"$scratch/rowtime.py" <<'PY'
import re
def secs(text):
    t = re.match(r'\D*(\d{1,2})\D(\d\d)\D(\d\d)', text)
    if not t:
        return None
    h, m, s = map(int, t.groups())
    if 'PM' in text.upper() and h < 12: h += 12
    if 'AM' in text.upper() and h == 12: h = 0
    return h * 3600 + m * 60 + s
PY
export PYTHONPATH=$scratch
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "$scratch"/*/pfx; do [ -d "$p" ] && WINEPREFIX=$p "$WINESERVER" -k 2>/dev/null; done
    if [ "${KP33_WINE_KEEP:-0}" = 1 ]; then echo "kept: $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT

passed=0 failed=0
check() { # description command...
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
        passed=$((passed + 1))
    else
        echo "FAIL $what"
        failed=$((failed + 1))
    fi
}

echo "preparing a Wine prefix"
wine_template "$scratch/template"

# The program folder of a case, with KP33.ini in the Windows line ending.
program_folder() { # dir ini-lines...
    local dir=$1
    shift
    mkdir -p "$dir"
    cp "$build/bin/kp33.exe" "$dir/"
    cp -r "$build/bin/HELP" "$dir/"
    printf '%s\r\n' "$@" >"$dir/KP33.ini"
}

# Waits until a process has ended (at most $2 s); its status in $ended_rc.
wait_end() { # pid seconds
    local i
    for i in $(seq $(($2 * 10))); do
        if ! kill -0 "$1" 2>/dev/null; then
            wait "$1"
            ended_rc=$?
            return 0
        fi
        sleep 0.1
    done
    ended_rc=255
    return 1
}

data_file() { echo "$1/DATA/$(date +%d-%m-%Y).csv"; }

rows() { if [ -f "$1" ]; then grep -c . "$1"; else echo 0; fi; }

# Rows come one a second, each of them right. A second start of the program
# (given as HH:MM:SS when it began and when it ended) must cost none: while
# it runs, it hides, restores and raises the first instance's window, and
# every second of that span has its row. Elsewhere a lone late row is
# reported, not failed: on a loaded machine Wine's serial calls, all through
# the shared wineserver, can push a cycle past a second's edge.
rows_every_second() { # file expected-temperature low high [second-start second-end]
    python3 - "$@" <<'PY'
import rowtime, sys
path, temp, lo, hi = sys.argv[1:5]
secs_of = rowtime.secs
rows = [l.rstrip('\r\n') for l in open(path, newline='') if l.strip()]
ok = len(rows) >= 5
secs = []
for r in rows:
    f = r.split(',')
    if f[1:] != [temp, lo, hi]:
        print('  bad row:', repr(r)); ok = False
    t = rowtime.secs(f[0])
    if t is None:
        print('  bad time:', repr(r)); ok = False; continue
    secs.append(t)
gaps = [b - a for a, b in zip(secs, secs[1:])]
if any(g not in (0, 1, 2) for g in gaps) or sum(1 for g in gaps if g != 1) > len(gaps) // 10:
    print('  gaps:', gaps); ok = False
elif any(g != 1 for g in gaps):
    print('  gaps (a lone late row passes):', gaps)
if len(sys.argv) > 6:
    first, last = secs_of(sys.argv[5]) - 1, secs_of(sys.argv[6]) + 1
    missing = [t for t in range(first, last + 1) if t not in secs]
    print('  %d of the %d s from %s to %s have a row' % (last - first + 1 - len(missing), last - first + 1,
                                                    sys.argv[5], sys.argv[6]))
    if missing or not secs or secs[0] > first or secs[-1] < last:
        ok = False
print('  %d rows, %s .. %s' % (len(rows), rows[0][:8] if rows else '-', rows[-1][:8] if rows else '-'))
sys.exit(0 if ok else 1)
PY
}

# Every row whole: time, the temperature or the error mark, the two limits,
# CR LF; and the file ends with one.
rows_complete() { # file temperature low high
    python3 - "$@" <<'PY'
import re, rowtime, sys
path, temp, lo, hi = sys.argv[1:5]
data = open(path, 'rb').read()
rows = data.split(b'\r\n')
ok = data.endswith(b'\r\n') and len(rows) > 1
row = rb'([^,]+),(%s|1000\.0),%s,%s' % tuple(re.escape(v.encode()) for v in (temp, lo, hi))
for r in rows[:-1]:
    m = re.fullmatch(row, r)
    if not m or rowtime.secs(m.group(1).decode(errors='replace')) is None:
        print('  bad row:', r); ok = False
print('  %d rows' % (len(rows) - 1))
sys.exit(0 if ok else 1)
PY
}

all_keys_saved() { # ini
    python3 - "$1" <<'PY'
import sys
keys = {'GENERAL': ['SignalUse', 'ControlT', 'AutoScale', 'AutoRun', 'PORT'],
        'COLORS': ['TempColor', 'TempValueColor', 'NormalColor', 'StopColor', 'ErrorColor',
                   'LoTColor', 'HiTColor', 'LPTColor', 'HPTColor'],
        'LIMITS': ['LoT', 'HiT'], 'LEVELS': ['LoL', 'HiL'],
        'DATA': ['Save', 'PeriodSave', 'FileType', 'FileSave']}
seen, sec = {}, None
data = open(sys.argv[1], 'rb').read()
for line in data.split(b'\r\n'):
    t = line.decode('utf-8', 'replace').strip()
    if t.startswith('['):
        sec = t.strip('[]').upper(); continue
    if '=' in t and sec:
        seen.setdefault(sec, []).append(t.split('=', 1)[0].strip())
n = sum(1 for s, ks in keys.items() for k in ks if k in seen.get(s, []))
lf_only = data.count(b'\n') != data.count(b'\r\n')
print('  %d of 22 keys%s' % (n, ', bare LF line endings' if lf_only else ''))
sys.exit(0 if n == 22 and not lf_only else 1)
PY
}

registry_record() { # prefix
    local out
    out=$(WINEPREFIX=$1 "$WINE" reg query 'HKCU\SOFTWARE\KP33\Information' 2>/dev/null | tr -d '\r')
    grep -q 'Product.*REG_SZ.*Virtual thermometr KP33' <<<"$out" &&
        grep -q 'Version.*REG_SZ.*1\.0' <<<"$out" &&
        grep -q 'E-mail.*REG_SZ.*\*\{21\}' <<<"$out"
}

# A case's prefix, display and simulator; sets dir pfx disp.
setup_case() { # name sim-args...
    local name=$1
    shift
    dir=$scratch/$name
    mkdir -p "$dir"
    pfx=$dir/pfx
    wine_prefix "$scratch/template" "$pfx"
    local simpid xpid
    start_sim simpid "$dir/sensor" "$@" || return 1
    wine_map_port "$pfx" COM1 "$(readlink -f "$dir/sensor")"
    start_xvfb disp xpid
    pids+=("$xpid")
}

start_program() { # folder [env...]
    local folder=$1
    shift
    (cd "$folder" && env WINEPREFIX="$pfx" DISPLAY="$disp" "$@" "$WINE" "$folder/kp33.exe" \
        >>"$dir/program.log" 2>&1) &
    program=$!
}

# Asks the program to close as the window's close box would.
close_program() {
    WINEPREFIX=$pfx DISPLAY=$disp "$WINE" taskkill /im kp33.exe >/dev/null 2>&1
}

case_measure() { # family temperature
    local family=$1 temp=$2
    setup_case "measure-$family" --family "$family" --temp "$temp" --wire-time || return
    local prog=$dir/prog
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1'
    start_program "$prog"
    local csv
    csv=$(data_file "$prog")
    local i
    for i in $(seq 300); do [ "$(rows "$csv")" -ge 1 ] && break; sleep 0.1; done
    check "$family: the first row within 30 s of the start" test "$(rows "$csv")" -ge 1
    sleep 6
    # A second start brings the first forward and ends at once.
    local second_at
    second_at=$(date +%T)
    echo "  second start at $second_at"
    (cd "$prog" && WINEPREFIX=$pfx DISPLAY=$disp "$WINE" "$prog/kp33.exe" >/dev/null 2>&1) &
    local second=$!
    wait_end "$second" 20
    local second_end
    second_end=$(date +%T)
    echo "  the second start ended at $second_end"
    check "$family: a second start ends with status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    check "$family: the first instance goes on" kill -0 "$program"
    sleep 5
    close_program
    wait_end "$program" 15
    check "$family: closes in order on a close request, status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    check "$family: one right row a second ($temp), none lost to the second start" \
        rows_every_second "$csv" "$temp" -55.0 125.0 "$second_at" "$second_end"
    check "$family: KP33.ini holds every setting, CR LF" all_keys_saved "$prog/KP33.ini"
    check "$family: the registry record" registry_record "$pfx"
}

case_alarm() {
    setup_case alarm --temp 23.5 --wire-time --conversion instant || return
    local prog=$dir/prog
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1' 'SignalUse=1' 'ControlT=1' \
        '[LEVELS]' 'LoL=10' 'HiL=20'
    start_program "$prog" WINEDEBUG=trace+winmm
    local csv
    csv=$(data_file "$prog")
    local i
    for i in $(seq 300); do [ "$(rows "$csv")" -ge 2 ] && break; sleep 0.1; done
    close_program
    wait_end "$program" 15
    # 13 = SND_ASYNC | SND_MEMORY | SND_LOOP; 2 = SND_NODEFAULT, the stop.
    check "alarm: the looping sound from memory" grep -q 'MULTIMEDIA_PlaySound.*fdwSound=0000000D' "$dir/program.log"
    check "alarm: the sound is a RIFF WAVE in the program" grep -q 'ckid=RIFF fccType=WAVE' "$dir/program.log"
    check "alarm: stopped when the session ends" grep -q "pszSound='0000000000000000'.*fdwSound=00000002" "$dir/program.log"
    check "alarm: rows carry the band in force" grep -q ',23.5,10.0,20.0' "$csv"
    check "alarm: closed in order, status 0 (status $ended_rc)" test "$ended_rc" -eq 0
}

case_endsession() {
    # No sensor answers: the program stands at its demonstration question.
    setup_case endsession --no-device --wire-time || return
    local prog=$dir/prog
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1' 'SignalUse=0' '[LEVELS]' 'LoL=1.5' 'HiL=30.5'
    start_program "$prog"
    sleep 12
    check "endsession: the program is up before the session ends" kill -0 "$program"
    WINEPREFIX=$pfx DISPLAY=$disp "$WINE" wineboot --end-session >/dev/null 2>&1
    wait_end "$program" 20
    check "endsession: the program ends with the session (status $ended_rc)" test "$ended_rc" -ne 255
    check "endsession: KP33.ini holds every setting" all_keys_saved "$prog/KP33.ini"
    check "endsession: the settings it had are kept" grep -q '^HiL=30.5' "$prog/KP33.ini"
    check "endsession: the registry record" registry_record "$pfx"
}

# The Windows path of a file here (Wine's drive Z: is the root).
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# Another program holding a file as a spreadsheet does: open for reading,
# sharing reading only, so a program that would write gets a sharing
# violation. It makes HELD once it has the file and lets go when RELEASE
# appears (or after two minutes).
holder_exe() {
    [ -f "$scratch/holdfile.exe" ] && return 0
    cat >"$scratch/holdfile.c" <<'C'
#include <windows.h>
int wmain(int argc, wchar_t **argv)
{
    if (argc != 4)
        return 2;
    HANDLE h = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE m = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (m != INVALID_HANDLE_VALUE)
        CloseHandle(m);
    for (int i = 0; i < 1200 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    CloseHandle(h);
    return 0;
}
C
    x86_64-w64-mingw32-gcc-posix -municode -Wall -Wextra -Werror -O2 -o "$scratch/holdfile.exe" "$scratch/holdfile.c"
}

# Starts the holder on a file; sets holder. Returns once the file is held.
hold_file() { # file
    rm -f "$dir/held" "$dir/release"
    (env WINEPREFIX="$pfx" DISPLAY="$disp" "$WINE" "$scratch/holdfile.exe" "$(winpath "$1")" \
        "$(winpath "$dir/held")" "$(winpath "$dir/release")" >>"$dir/holder.log" 2>&1) &
    holder=$!
    pids+=("$holder")
    local i
    for i in $(seq 300); do [ -e "$dir/held" ] && return 0; sleep 0.1; done
    return 1
}

# The names of the X windows on the case's display (the task-bar texts).
window_names() {
    local id
    for id in $(DISPLAY=$disp xdotool search --name . 2>/dev/null); do
        DISPLAY=$disp xdotool getwindowname "$id" 2>/dev/null
    done
}
wait_title() { # text seconds
    local i
    for i in $(seq $(($2 * 2))); do window_names | grep -qF "$1" && return 0; sleep 0.5; done
    return 1
}

no_title() { ! window_names | grep -qF "$1"; }

busy_note='файл данных занят другой программой'

# Today's file is held from before the start: KP33 measures on and keeps the
# rows, then writes them in order once the file is let go.
case_busy_start() {
    holder_exe || { check "busy: the holder builds" false; return; }
    setup_case busy-start --temp 21.3 --wire-time --conversion instant || return
    local prog=$dir/prog
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1'
    mkdir -p "$prog/DATA"
    local csv
    csv=$(data_file "$prog")
    check "busy: another program holds today's file" hold_file "$csv"
    start_program "$prog"
    check "busy: the title says the rows are kept" wait_title "$busy_note" 40
    sleep 6
    check "busy: KP33 measures on while the file is held" kill -0 "$program"
    check "busy: nothing written while held" test "$(rows "$csv")" -eq 0
    local released
    released=$(date +%T)
    echo "  released at $released"
    touch "$dir/release"
    wait_end "$holder" 20
    local i
    for i in $(seq 100); do [ "$(rows "$csv")" -ge 6 ] && break; sleep 0.1; done
    sleep 4
    check "busy: the title has no note once the rows are in" no_title "$busy_note"
    close_program
    wait_end "$program" 15
    check "busy: closes in order, status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    check "busy: a row for every second, the held ones first" rows_every_second "$csv" 21.3 -55.0 125.0
    check "busy: the held rows are from before the release" python3 - "$csv" "$released" <<'PY'
import sys
from rowtime import secs
first = open(sys.argv[1], newline='').readline().split(',')[0]
print('  first row %s, released %s' % (first, sys.argv[2]))
sys.exit(0 if 5 <= secs(sys.argv[2]) - secs(first) < 600 else 1)
PY
    check "busy: no file beside it" test -z "$(ls "$prog/DATA" | grep -- -KP33-)"
}

# Held past the close: the rows go to a file beside it, a box names it, and
# the settings are saved before the box.
case_busy_close() {
    holder_exe || { check "busy: the holder builds" false; return; }
    setup_case busy-close --temp 23.5 --wire-time --conversion instant || return
    local prog=$dir/prog
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1'
    mkdir -p "$prog/DATA"
    local csv
    csv=$(data_file "$prog")
    check "busy past the close: the file is held" hold_file "$csv"
    start_program "$prog"
    check "busy past the close: the title says the rows are kept" wait_title "$busy_note" 40
    sleep 5
    close_program
    local kept= i
    for i in $(seq 150); do
        kept=$(ls "$prog/DATA/"*-KP33-*.csv 2>/dev/null | head -1)
        [ -n "$kept" ] && [ "$(rows "$kept")" -ge 1 ] && break
        sleep 0.1
    done
    check "busy past the close: the rows go to a file beside it" test -n "$kept"
    [ -n "$kept" ] && echo "  $(basename "$kept")"
    check "busy past the close: a row for every second there" rows_every_second "${kept:-/nonexistent}" 23.5 -55.0 125.0
    check "busy past the close: nothing in the held file" test "$(rows "$csv")" -eq 0
    check "busy past the close: the box that names it is up" wait_title 'Внимание' 10
    check "busy past the close: KP33.ini saved before the box" all_keys_saved "$prog/KP33.ini"
    close_program # the box's close, as its OK
    wait_end "$program" 15
    check "busy past the close: ends after the box, status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    touch "$dir/release"
    wait_end "$holder" 20
}

# --- The serial layer under Wine: a probe that opens nothing, and an adapter
# that vanishes in the middle of a burst.

rows_with() { if [ -f "$1" ]; then grep -c -- "$2" "$1"; else echo 0; fi; }

# Rows before the vanish carry the temperature, the rest the sensor error
# (1000.0), still one a second.
rows_then_sensor_error() { # file temperature
    python3 - "$@" <<'PY'
import rowtime, sys
path, temp = sys.argv[1:3]
rows = [l.rstrip('\r\n').split(',') for l in open(path, newline='') if l.strip()]
temps = [r[1] for r in rows]
ok = bool(temps) and temps[0] == temp and temps[-1] == '1000.0'
# One change, from the temperature to the error, and never back.
k = temps.index('1000.0') if '1000.0' in temps else len(temps)
ok = ok and set(temps[:k]) == {temp} and set(temps[k:]) == {'1000.0'} and len(temps) - k >= 3
secs = [rowtime.secs(r[0]) for r in rows]
gaps = [b - a for a, b in zip(secs, secs[1:])]
ok = ok and all(g in (0, 1, 2) for g in gaps)
print('  %d rows with %s, then %d with the sensor error; gaps %s' % (k, temp, len(temps) - k, sorted(set(gaps))))
sys.exit(0 if ok else 1)
PY
}

case_vanish() {
    # Character 1000 comes some ten cycles into the session, inside a burst
    # of slots (two characters of a cycle's 106 are resets).
    setup_case vanish --temp 22.5 --wire-time --vanish-at-char 1000 --trace-opens \
        --trace "$scratch/vanish/sim.trace" || return
    local prog=$dir/prog
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1'
    start_program "$prog"
    local csv
    csv=$(data_file "$prog")
    local i
    for i in $(seq 600); do [ "$(rows_with "$csv" ',1000.0,')" -ge 4 ] && break; sleep 0.1; done
    check "vanish: the simulator vanished mid-session" grep -q '^FAULT vanish' "$dir/sim.trace"
    # Start, probe, sensor search and session: one open, the search's.
    check "vanish: the port was opened once, by the search ($(grep -c '^OPEN' "$dir/sim.trace") opens)" \
        test "$(grep -c '^OPEN' "$dir/sim.trace")" -eq 1
    check "vanish: the program goes on" kill -0 "$program"
    close_program
    wait_end "$program" 15
    check "vanish: closes in order on a close request, status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    check "vanish: rows go on, with the sensor error" rows_then_sensor_error "$csv" 22.5
    check "vanish: KP33.ini holds every setting" all_keys_saved "$prog/KP33.ini"
}

# tst_comport.exe against two simulators: COM1 traces every open of its
# port and can stall; COM2 vanishes as character 183 comes (the fourth slot
# of the Read Scratchpad command in the third reading: 89 characters a
# reading) and comes back on "plug".
case_serial() {
    dir=$scratch/serial
    mkdir -p "$dir"
    pfx=$dir/pfx
    wine_prefix "$scratch/template" "$pfx"
    local p1 p2
    start_sim p1 "$dir/sensor1" --trace "$dir/sensor1.trace" --trace-opens --control "$dir/control1" || return
    start_sim p2 "$dir/sensor2" --vanish-at-char 183 --control "$dir/control2" --trace "$dir/sensor2.trace" || return
    wine_map_port "$pfx" COM1 "$(readlink -f "$dir/sensor1")"
    # The link itself: the adapter that comes back is a new pseudo-terminal
    # behind the same link.
    wine_map_port "$pfx" COM2 "$dir/sensor2"
    (cd "$dir" && WINEPREFIX=$pfx KP33_COM1_TRACE="Z:$dir/sensor1.trace" \
        KP33_COM1_CONTROL="Z:$dir/control1" KP33_COM2_CONTROL="Z:$dir/control2" \
        timeout 300 "$WINE" "$build/bin/tst_comport.exe" -o "Z:$dir/result.txt,txt" >/dev/null 2>&1)
    local rc=$?
    tr -d '\r' <"$dir/result.txt" 2>/dev/null | grep -E '^(PASS|FAIL|SKIP|Totals)|failure location|Actual|Expected' | sed 's/^/  /'
    check "serial: tst_comport under Wine (status $rc)" test "$rc" -eq 0
}

# The end of the session while measuring, inside Windows' budget: Windows
# ends a program about 5 s after WM_ENDSESSION. The adapter goes mute as the
# session ends (every echo lost); with "slowdisk" every sync of KP33.ini
# takes 1 s and every data row's 8 s, so the measurement thread is still in
# its row's FlushFileBuffers when its share of the budget has run out.
case_endsession_measuring() { # mute|slowdisk
    local variant=$1 name=endsession-$1
    setup_case "$name" --temp 22.5 --wire-time --control "$scratch/$name/control" || return
    local prog=$dir/prog env=()
    program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1' 'SignalUse=0' '[COLORS]' 'TempColor=255' \
        '[LEVELS]' 'LoL=1.5' 'HiL=30.5'
    if [ "$variant" = slowdisk ]; then
        if ! cc -shared -fPIC -O2 -o "$dir/slowsync.so" "$here/slowsync.c" -ldl; then
            check "$name: the slow disk builds" false
            return
        fi
        local real
        real=$(readlink -f "$prog")
        env=(LD_PRELOAD="$dir/slowsync.so" "KP33_SLOW_SYNC=$real/DATA/=8000;$real/=1000"
            KP33_SLOW_SYNC_LOG="$dir/syncs.log")
    fi
    start_program "$prog" "${env[@]}"
    local csv i
    csv=$(data_file "$prog")
    for i in $(seq 600); do [ "$(rows "$csv")" -ge 3 ] && break; sleep 0.1; done
    check "$name: measuring before the session ends" test "$(rows "$csv")" -ge 3
    echo 'fault lost 1' >"$dir/control"
    local began ended boot rc
    began=$(date +%s.%N)
    # wineboot's own trace times the answers: WM_ENDSESSION goes out when the
    # last WM_QUERYENDSESSION is answered, and Wine, like Windows, ends the
    # program once every WM_ENDSESSION is answered.
    WINEPREFIX=$pfx DISPLAY=$disp WINEDEBUG=+timestamp,trace+wineboot "$WINE" wineboot --end-session \
        >/dev/null 2>"$dir/wineboot.log" &
    boot=$!
    wait_end "$program" 20
    rc=$ended_rc
    ended=$(date +%s.%N)
    wait_end "$boot" 20 || kill "$boot" 2>/dev/null
    local took handler
    took=$(python3 -c "print('%.2f' % ($ended - $began))")
    handler=$(handler_seconds "$dir/wineboot.log")
    echo "  the close took ${handler:-?} s from WM_ENDSESSION to its answer;" \
        "the program was gone ${took} s after wineboot --end-session began"
    # 0: it ended by itself; 137: Wine ended it once every WM_ENDSESSION was
    # answered, as Windows does.
    check "$name: ends with the session (status $rc)" test "$rc" -eq 0 -o "$rc" -eq 137
    check "$name: the whole close inside Windows' 5 s (${handler:-no answer seen} s)" \
        python3 -c "import sys; sys.exit(0 if '$handler' and float('$handler') < 5 else 1)"
    check "$name: KP33.ini holds every setting, CR LF" all_keys_saved "$prog/KP33.ini"
    check "$name: the settings it had are kept" settings_kept "$prog/KP33.ini"
    check "$name: the registry record" registry_record "$pfx"
    check "$name: every row whole" rows_complete "$csv" 22.5 1.5 30.5
    if [ "$variant" = slowdisk ]; then
        check "$name: the settings met the slow disk" grep -q 'KP33\.ini' "$dir/syncs.log"
        check "$name: the rows met the slow disk" grep -q '/DATA/' "$dir/syncs.log"
    fi
}

# Seconds from the last answer to WM_QUERYENDSESSION (WM_ENDSESSION is sent
# then) to the last answer to WM_ENDSESSION, from wineboot's timed trace.
handler_seconds() { # log
    python3 - "$1" <<'PY'
import re, sys
query = end = None
for line in open(sys.argv[1], errors='replace'):
    m = re.match(r'\s*([0-9]+\.[0-9]+):.*received response (WM_QUERYENDSESSION|WM_ENDSESSION)', line)
    if not m:
        continue
    t = float(m.group(1))
    if m.group(2) == 'WM_QUERYENDSESSION':
        query = t
    else:
        end = t
if query is not None and end is not None:
    print('%.2f' % (end - query))
PY
}

settings_kept() { # ini
    grep -q $'^HiL=30.5\r$' "$1" && grep -q $'^TempColor=255\r$' "$1" && grep -q $'^SignalUse=0\r$' "$1"
}

# A Windows without Liberation Sans: a prefix of its own with no font
# replacements, and none of the host's fonts (Wine finds those through
# fontconfig), so "Arial" is missing and "MS Sans Serif" is a bitmap face,
# as on Windows. The about box's test, on Windows' own platform plugin rather than
# offscreen, asks Qt which face each label got: the carried ones.
# Qt logs to stderr here. Wine 8 refuses the per-monitor v2 context that Qt
# asks for at start (invalid parameter), manifest or not, and Qt says so;
# Windows, where the manifest has set it already, answers "access denied",
# which Qt leaves unsaid. So the same run with the manifest taken out of a
# copy of the test is the measure: the manifest may add no word of its own.
case_faces() {
    dir=$scratch/faces
    mkdir -p "$dir"
    pfx=$dir/pfx
    cat >"$dir/fonts.conf" <<XML
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig><cachedir>$dir/fontconfig</cachedir></fontconfig>
XML
    local fc=FONTCONFIG_FILE=$dir/fonts.conf xpid
    env "$fc" WINEPREFIX="$pfx" "$WINE" wineboot -i >/dev/null 2>&1
    # Windows' own "MS Sans Serif" is a bitmap face in a few sizes, in
    # western and Cyrillic forms: Wine's copies of it.
    cp /usr/share/wine/fonts/sserife*.fon "$pfx/drive_c/windows/Fonts/"
    env "$fc" WINEPREFIX="$pfx" "$WINESERVER" -w
    check "faces: the prefix has no font replacements" \
        not_found "$(env "$fc" WINEPREFIX="$pfx" "$WINE" reg query 'HKCU\Software\Wine\Fonts\Replacements' 2>&1)"
    start_xvfb disp xpid
    pids+=("$xpid")
    cp "$build/bin/tst_about.exe" "$dir/with.exe"
    without_manifest "$build/bin/tst_about.exe" "$dir/without.exe" ||
        { check "faces: a copy without the manifest" false; return; }
    local run rc=
    for run in with without; do
        (cd "$dir" && env -u WINEQT_QPA_PLATFORM -u WINEQT_QPA_FONTDIR "$fc" WINEPREFIX="$pfx" DISPLAY="$disp" \
            WINEQT_FORCE_STDERR_LOGGING=1 timeout 120 "$WINE" "$dir/$run.exe" labelsInTheCarriedFaces \
            -o "Z:$dir/$run.txt,txt" >/dev/null 2>"$dir/$run.log")
        rc=${rc:-$?}
        grep -hi 'dpi' "$dir/$run.log" "$dir/$run.txt" 2>/dev/null | tr -d '\r' >"$dir/$run.dpi"
    done
    tr -d '\r' <"$dir/with.txt" 2>/dev/null | grep -E '^(PASS|FAIL|QINFO|QWARN|Totals)|Loc' | sed 's/^/  /'
    check "faces: the labels get the carried faces on Windows' own platform (status $rc)" \
        grep -q '^PASS   : TestAbout::labelsInTheCarriedFaces()' "$dir/with.txt"
    check "faces: Regular and Bold both from the program" \
        test "$(grep -c 'Liberation Sans \(Regular\|Bold\), the carried face' "$dir/with.txt")" -ge 2
    sed 's/^/  with the manifest:    /' "$dir/with.dpi"
    sed 's/^/  without the manifest: /' "$dir/without.dpi"
    check "faces: the manifest adds no word from Qt on the DPI awareness" \
        test -z "$(grep -vxFf "$dir/without.dpi" "$dir/with.dpi")"
}

# A copy of a program whose manifest the loader no longer finds: its
# resource type renamed from RT_MANIFEST (24) to an unused number.
without_manifest() { # exe copy
    python3 - "$1" "$2" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
pe = struct.unpack_from('<I', d, 0x3c)[0]
nsec, = struct.unpack_from('<H', d, pe + 6)
optsize, = struct.unpack_from('<H', d, pe + 20)
opt = pe + 24
rsrc_rva, _ = struct.unpack_from('<II', d, opt + 112 + 8 * 2)
root = None
for i in range(nsec):
    vsize, va, rawsize, raw = struct.unpack_from('<8sIIII', d, opt + optsize + 40 * i)[1:]
    if va <= rsrc_rva < va + max(vsize, rawsize):
        root = raw + rsrc_rva - va
named, ids = struct.unpack_from('<HH', d, root + 12)
hits = 0
for i in range(named + ids):
    entry = root + 16 + 8 * i
    if struct.unpack_from('<I', d, entry)[0] == 24:
        struct.pack_into('<I', d, entry, 0x7fff)
        hits += 1
open(sys.argv[2], 'wb').write(d)
sys.exit(0 if hits == 1 else 1)
PY
}

not_found() { grep -q 'Unable to find' <<<"$1"; }
not() { ! "$@"; }

# What the resource compiler put into kp33.exe, read back from the file: the
# application manifest, and the icon group with every size.
case_manifest() {
    check "manifest: kp33.exe carries it, as built" python3 - "$build/bin/kp33.exe" <<'PY'
import struct, sys
import xml.etree.ElementTree as ET
d = open(sys.argv[1], 'rb').read()
pe = struct.unpack_from('<I', d, 0x3c)[0]
nsec, = struct.unpack_from('<H', d, pe + 6)
optsize, = struct.unpack_from('<H', d, pe + 20)
opt = pe + 24
pe32plus = struct.unpack_from('<H', d, opt)[0] == 0x20b
rsrc_rva, _ = struct.unpack_from('<II', d, opt + (112 if pe32plus else 96) + 8 * 2)
sections = [struct.unpack_from('<8sIIII', d, opt + optsize + 40 * i)[1:] for i in range(nsec)]
def at(rva):
    for vsize, va, rawsize, raw in sections:
        if va <= rva < va + max(vsize, rawsize):
            return raw + rva - va
    sys.exit('rva %x outside the sections' % rva)
root = at(rsrc_rva)
def entries(off):
    named, ids = struct.unpack_from('<HH', d, off + 12)
    return [struct.unpack_from('<II', d, off + 16 + 8 * i) for i in range(named + ids)]
def sub(off, ident=None):
    for name, target in entries(off):
        if ident is None or name == ident:
            return root + (target & 0x7fffffff)
    sys.exit('no resource %s' % ident)
def data(type_id, ident=None):
    leaf = sub(sub(sub(root, type_id), ident))  # type, name, first language
    rva, size = struct.unpack_from('<II', d, leaf)
    return d[at(rva):at(rva) + size]
ok = True
m = ET.fromstring(data(24, 1))
ns = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3',
      'c': 'urn:schemas-microsoft-com:compatibility.v1',
      'w5': 'http://schemas.microsoft.com/SMI/2005/WindowsSettings',
      'w6': 'http://schemas.microsoft.com/SMI/2016/WindowsSettings'}
def text(path):
    e = m.find(path, ns)
    return None if e is None else (e.text or '').strip()
level = m.find('.//v3:requestedExecutionLevel', ns)
found = {'level': None if level is None else level.get('level'),
         'supportedOS': [e.get('Id') for e in m.findall('.//c:supportedOS', ns)],
         'dpiAware': text('.//w5:dpiAware'), 'dpiAwareness': text('.//w6:dpiAwareness'),
         'longPathAware': text('.//w6:longPathAware')}
want = {'level': 'asInvoker', 'supportedOS': ['{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'],
        'dpiAware': 'true/pm', 'dpiAwareness': 'PerMonitorV2, PerMonitor', 'longPathAware': 'true'}
print('  manifest:', found)
ok = found == want
# The icon group (RT_GROUP_ICON, named IDI_ICON1): its entries' sizes.
group = data(14)
count, = struct.unpack_from('<H', group, 4)
sizes = [group[6 + 14 * i] or 256 for i in range(count)]
print('  icon group:', sizes)
ok = ok and sizes == [16, 20, 24, 32, 40, 48, 64, 256]
sys.exit(0 if ok else 1)
PY
}

# The main window's outer size in X pixels, "W H": the widest visible window
# of the program (its title follows the measurement).
main_window_size() {
    local id best=
    for id in $(DISPLAY=$disp xdotool search --onlyvisible --class 'kp33' 2>/dev/null); do
        DISPLAY=$disp xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p'
    done | sort -n -r | head -1 | grep .
}

# The program at 96 and at 144 dots per inch (a 150 % screen): at 144 the
# window is drawn at twice its size, whole device pixels for every layout
# pixel. Screenshots of both go to KP33_WINE_SHOTS (default: the case folder).
case_dpi144() {
    setup_case dpi144 --temp 23.5 --wire-time --conversion instant || return
    local shots=${KP33_WINE_SHOTS:-$dir} prog=$dir/prog
    mkdir -p "$shots"
    # A screen that holds the window at 200 % and its frame.
    local big bigpid
    start_xvfb big bigpid 1920x1200x24
    pids+=("$bigpid")
    disp=$big
    local dpi size w h w96=0 h96=0
    for dpi in 96 144; do
        if [ "$dpi" = 144 ]; then
            WINEPREFIX=$pfx "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
            WINEPREFIX=$pfx "$WINE" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
            WINEPREFIX=$pfx "$WINESERVER" -w
        fi
        rm -rf "$prog"
        program_folder "$prog" '[GENERAL]' 'AutoRun=1' 'PORT=1' '[DATA]' 'Save=0'
        start_program "$prog"
        local i
        for i in $(seq 120); do main_window_size >/dev/null && break; sleep 0.5; done
        sleep 8 # measuring, the window settled
        size=$(main_window_size)
        read -r w h <<<"${size:-0 0}"
        echo "  at $dpi dpi the window is ${w}x$h"
        DISPLAY=$disp import -window root "$shots/wine-${dpi}dpi.png" 2>/dev/null
        if [ "$dpi" = 96 ]; then
            check "dpi: at 96 dpi the window is its design size (${w}x$h)" \
                test "$w" -ge 632 -a "$w" -lt 700 -a "$h" -ge 434 -a "$h" -lt 520
            w96=$w h96=$h
        else
            check "dpi: at 144 dpi the window is twice its 96-dpi size (${w}x$h)" \
                test "$w" -eq $((2 * w96)) -a "$h" -eq $((2 * h96))
        fi
        check "dpi: a screenshot at $dpi dpi" test -s "$shots/wine-${dpi}dpi.png"
        close_program
        wait_end "$program" 15
        check "dpi: closes in order at $dpi dpi (status $ended_rc)" test "$ended_rc" -eq 0
    done
}

for c in "${cases[@]}"; do
    case $c in
    measure-b20) case_measure ds18b20 21.3 ;;
    measure-s20) case_measure ds18s20 23.5 ;;
    alarm) case_alarm ;;
    endsession) case_endsession ;;
    endsession-mute) case_endsession_measuring mute ;;
    endsession-slowdisk) case_endsession_measuring slowdisk ;;
    busy-start) case_busy_start ;;
    busy-close) case_busy_close ;;
    vanish) case_vanish ;;
    serial) case_serial ;;
    faces) case_faces ;;
    manifest) case_manifest ;;
    dpi144) case_dpi144 ;;
    *) echo "unknown case $c" >&2; failed=$((failed + 1)) ;;
    esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
