#!/usr/bin/env bash
# The Windows program under Wine, end to end: kp33.exe in a folder of its own
# against the sensor simulator on a pseudo-terminal mapped to COM1, each case
# in its own prefix and on its own X server.
#   tools/windows/test-wine.sh BUILD_DIR SIMULATOR [case...]
# Cases: measure-b20 measure-s20 alarm endsession endsession-mute
# endsession-slowdisk. Prints one line a check and a closing "N passed, M failed".
# KP33_WINE_KEEP=1 keeps the cases' folders (logs, data, prefixes) for a look.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
export KP33_SIM=$2
shift 2
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(measure-b20 measure-s20 alarm endsession endsession-mute endsession-slowdisk)
. "$here/winelib.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-wine.XXXXXX")
pids=()
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
import sys
path, temp, lo, hi = sys.argv[1:5]
def secs_of(hms):
    h, m, s = map(int, hms.split(':')); return h * 3600 + m * 60 + s
rows = [l.rstrip('\r\n') for l in open(path, newline='') if l.strip()]
ok = len(rows) >= 5
secs = []
for r in rows:
    f = r.split(',')
    if f[1:] != [temp, lo, hi]:
        print('  bad row:', repr(r)); ok = False
    secs.append(secs_of(f[0]))
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
import re, sys
path, temp, lo, hi = sys.argv[1:5]
data = open(path, 'rb').read()
rows = data.split(b'\r\n')
ok = data.endswith(b'\r\n') and len(rows) > 1
row = rb'\d\d:\d\d:\d\d,(%s|1000\.0),%s,%s' % tuple(re.escape(v.encode()) for v in (temp, lo, hi))
for r in rows[:-1]:
    if not re.fullmatch(row, r):
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
    pids+=("$simpid")
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

for c in "${cases[@]}"; do
    case $c in
    measure-b20) case_measure ds18b20 21.3 ;;
    measure-s20) case_measure ds18s20 23.5 ;;
    alarm) case_alarm ;;
    endsession) case_endsession ;;
    endsession-mute) case_endsession_measuring mute ;;
    endsession-slowdisk) case_endsession_measuring slowdisk ;;
    *) echo "unknown case $c" >&2; failed=$((failed + 1)) ;;
    esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
