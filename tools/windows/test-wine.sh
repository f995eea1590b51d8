#!/usr/bin/env bash
# The Windows program under Wine, end to end: kp33.exe in a folder of its own
# against the sensor simulator on a pseudo-terminal mapped to COM1, each case
# in its own prefix and on its own X server.
#   tools/windows/test-wine.sh BUILD_DIR SIMULATOR [case...]
# Cases: measure-b20 measure-s20 alarm endsession. Prints one line a check and
# a closing "N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
export KP33_SIM=$2
shift 2
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(measure-b20 measure-s20 alarm endsession)
. "$here/winelib.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-wine.XXXXXX")
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "$scratch"/*/pfx; do [ -d "$p" ] && WINEPREFIX=$p "$WINESERVER" -k 2>/dev/null; done
    rm -rf "$scratch"
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

# Rows come one a second: consecutive times, each of them right. Starting a
# second Wine process in the same prefix keeps the shared wineserver busy, and
# every serial call of the first goes through it; a late row right after that
# start (given as HH:MM:SS) is reported, not failed.
rows_every_second() { # file expected-temperature low high [second-start]
    python3 - "$@" <<'PY'
import re, sys
path, temp, lo, hi = sys.argv[1:5]
start2 = None
if len(sys.argv) > 5:
    h, m, s = map(int, sys.argv[5].split(':')); start2 = h * 3600 + m * 60 + s
rows = [l.rstrip('\r\n') for l in open(path, newline='') if l.strip()]
ok = len(rows) >= 5
secs = []
for r in rows:
    f = r.split(',')
    if f[1:] != [temp, lo, hi]:
        print('  bad row:', repr(r)); ok = False
    # The user's long time: 21:05:03, 9:05:03 PM, ...
    t = re.match(r'\D*(\d{1,2})\D(\d\d)\D(\d\d)', f[0])
    if not t:
        print('  bad time:', repr(r)); ok = False; continue
    h, m, s = map(int, t.groups())
    if 'PM' in f[0].upper() and h < 12: h += 12
    if 'AM' in f[0].upper() and h == 12: h = 0
    secs.append(h * 3600 + m * 60 + s)
gaps = []
for a, b in zip(secs, secs[1:]):
    if b - a != 1 and start2 is not None and 0 <= b - start2 <= 4 and b - a <= 3:
        print('  a row %d s late right after the second start (%s)' % (b - a - 1, sys.argv[5]))
        continue
    gaps.append(b - a)
if any(g not in (0, 1, 2) for g in gaps) or sum(1 for g in gaps if g != 1) > len(gaps) // 10:
    print('  gaps:', gaps); ok = False
print('  %d rows, %s .. %s' % (len(rows), rows[0][:8] if rows else '-', rows[-1][:8] if rows else '-'))
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
    check "$family: a second start ends with status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    check "$family: the first instance goes on" kill -0 "$program"
    sleep 5
    close_program
    wait_end "$program" 15
    check "$family: closes in order on a close request, status 0 (status $ended_rc)" test "$ended_rc" -eq 0
    check "$family: one right row a second ($temp)" rows_every_second "$csv" "$temp" -55.0 125.0 "$second_at"
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

for c in "${cases[@]}"; do
    case $c in
    measure-b20) case_measure ds18b20 21.3 ;;
    measure-s20) case_measure ds18s20 23.5 ;;
    alarm) case_alarm ;;
    endsession) case_endsession ;;
    *) echo "unknown case $c" >&2; failed=$((failed + 1)) ;;
    esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
