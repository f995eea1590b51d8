#!/usr/bin/env bash
# Installs kp33-setup.exe silently in a Wine prefix of its own, checks what it
# put where, then uninstalls it the way the installed-programs list would and
# checks that only the user's files (KP33.ini, DATA\) are left. While the
# program runs (a stand-in holds its mutex) install and uninstall change
# nothing: silently they stop with status 2, on screen they ask, with Retry
# and Cancel.
#   tools/windows/test-installer.sh <kp33-setup.exe> [after-install-command]
# The after-install command (or KP33_AFTER_INSTALL) runs through bash -c once the
# install is checked, e.g. a launch test of the real program. It sees WINEPREFIX,
# WINE, WINESERVER, KP33_DIR (the install folder, Unix path) and KP33_EXE
# (kp33.exe, Windows path); its exit status is a check. It must leave no
# program running. KP33_KEEP_PREFIX=1 keeps the prefix for a look afterwards.
set -uo pipefail

[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: test-installer.sh <kp33-setup.exe> [after-install-command]" >&2; exit 2; }
setup=$(realpath -e "$1") || { echo "test-installer.sh: $1 not found" >&2; exit 2; }
hook=${2:-${KP33_AFTER_INSTALL:-}}

here=$(cd "$(dirname "$0")" && pwd)
. "$here/winelib.sh"
[ -x "$WINE" ] || { echo "test-installer.sh: $WINE not found" >&2; exit 2; }
export WINE WINESERVER
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kp33-wine.XXXXXX")
export WINEPREFIX
work=$(mktemp -d "${TMPDIR:-/tmp}/kp33-test.XXXXXX")
cleanup() {
    [ -n "${xpid:-}" ] && kill "$xpid" 2>/dev/null
    "$WINESERVER" -k 2>/dev/null
    if [ "${KP33_KEEP_PREFIX:-0}" = 1 ]; then echo "prefix kept: $WINEPREFIX"; else rm -rf "$WINEPREFIX"; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check <what> <command...>
    local what=$1; shift
    if "$@"; then echo "ok $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
not() { ! "$@"; }
# The NSIS uninstaller copies itself to %TEMP%, starts the copy and returns at
# once; the wineserver ends only when every process of the prefix has.
settle() { timeout 120 "$WINESERVER" -w; }
winpath() { "$WINE" cmd /c echo "$1" | tr -d '\r'; }

key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KP33'
# reg query prints the Cyrillic as "?" under a C locale; an export is UTF-16 with every character kept.
regvalue() {  # regvalue <name>: the string value from the uninstall key, unescaped
    rm -f "$work/key.reg"
    "$WINE" reg export "$key" "$(winepath_w "$work/key.reg")" /y >/dev/null 2>&1 || return 1
    iconv -f UTF-16 -t UTF-8 "$work/key.reg" | tr -d '\r' |
        sed -n "s/^\"$1\"=\"\\(.*\\)\"\$/\\1/p" | sed 's/\\"/"/g; s/\\\\/\\/g'
}
winepath_w() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
haskey() { "$WINE" reg query "$key" /v DisplayName >/dev/null 2>&1; }
dwordvalue() {  # dwordvalue <name>: the DWORD value from the uninstall key, in decimal
    local v
    v=$("$WINE" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/.*$1 *REG_DWORD *0x\([0-9a-fA-F]*\).*/\1/p")
    [ -n "$v" ] && echo $((16#$v))
}
record='HKCU\SOFTWARE\KP33\Information'
hasrecord() { "$WINE" reg query "$record" >/dev/null 2>&1; }

# A stand-in for the running program: it holds the program's mutex.
holder_exe=$work/hold-mutex.exe
x86_64-w64-mingw32-gcc -municode -O2 -o "$holder_exe" "$here/hold-mutex.c" 2>"$work/holder.log" ||
    { cat "$work/holder.log" >&2; echo "FAIL the mutex holder does not build"; exit 1; }
hold() {  # hold: returns once the mutex is held
    rm -f "$work/held" "$work/release"
    "$WINE" "$holder_exe" "$(winepath_w "$work/held")" "$(winepath_w "$work/release")" >/dev/null 2>&1 &
    holder=$!
    local i
    for i in $(seq 300); do [ -e "$work/held" ] && return 0; sleep 0.1; done
    echo "  the mutex holder did not start"; return 1
}
release() { touch "$work/release"; wait "$holder" 2>/dev/null; }

start=$SECONDS
if ! timeout 180 "$WINE" wineboot -i > "$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log" >&2
    echo "FAIL wineboot -i"; exit 1
fi
localappdata=$(winpath '%LOCALAPPDATA%')
appdata=$(winpath '%APPDATA%')
dir=$("$WINE" winepath -u "$localappdata\\Programs\\KP33" 2>/dev/null)
startmenu=$("$WINE" winepath -u "$appdata\\Microsoft\\Windows\\Start Menu\\Programs" 2>/dev/null)
lnk="$startmenu/Термометр KP33.lnk"
exe_win="$localappdata\\Programs\\KP33\\kp33.exe"
[ -n "$localappdata" ] && [ -n "$dir" ] || { echo "FAIL no LOCALAPPDATA in the prefix"; exit 1; }
echo "prefix ready in $((SECONDS - start)) s"

install() { timeout 300 "$WINE" "$setup" /S && settle; }
uninstall() {  # runs what the installed-programs list would run for a quiet removal
    local cmd exe args
    cmd=$(regvalue QuietUninstallString) || return 1
    [[ $cmd =~ ^\"([^\"]+)\"\ *(.*)$ ]] || { echo "  QuietUninstallString: $cmd"; return 1; }
    exe=${BASH_REMATCH[1]} args=${BASH_REMATCH[2]}
    [ "$args" = /S ] || { echo "  QuietUninstallString: $cmd"; return 1; }
    timeout 300 "$WINE" "$exe" /S && settle
}

# Refused while the program runs, before anything is written. (No settle
# while the stand-in runs: the wineserver waits for every process.)
check "install while the program runs: a stand-in holds the mutex" hold
timeout 300 "$WINE" "$setup" /S
status=$?
check "install while the program runs: setup.exe /S ends with 2 (status $status)" test "$status" -eq 2
check "install while the program runs: nothing installed" not test -e "$dir"
check "install while the program runs: no uninstall key" not haskey

# On screen: the question comes first; Cancel stops, Retry goes on once the
# program has gone.
start_xvfb disp xpid
box() {  # box: the id of the first window named like the installer, waited for
    local i id
    for i in $(seq 300); do
        id=$(DISPLAY=$disp xdotool search --name 'KP33' 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
press() {  # press <window> <key>
    DISPLAY=$disp xdotool windowfocus --sync "$1" >/dev/null 2>&1
    DISPLAY=$disp xdotool key --window "$1" "$2" >/dev/null 2>&1
}
DISPLAY=$disp "$WINE" "$setup" >/dev/null 2>&1 &
asking=$!
# Under Wine the first window of this prefix on the display is not always
# found by its name, so the question is looked at in the second run below;
# Escape still reaches it here as the focused window.
question=$(box)
press "$question" Escape
for _ in $(seq 200); do kill -0 "$asking" 2>/dev/null || break; sleep 0.1; done
kill "$asking" 2>/dev/null
wait "$asking"
status=$?
check "install while the program runs, on screen: Cancel stops it (status $status)" test "$status" -eq 2
check "install while the program runs, on screen: nothing installed" not test -e "$dir"
DISPLAY=$disp "$WINE" "$setup" >/dev/null 2>&1 &
asking=$!
question=$(box)
name() { DISPLAY=$disp xdotool getwindowname "$1" 2>/dev/null; }
width() { DISPLAY=$disp xdotool getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^WIDTH=//p'; }
check "install while the program runs, on screen: it asks" test -n "$question"
asked_width=$(width "$question")
asked="\"$(name "$question")\", ${asked_width:-?} px wide"
release
press "$question" Return
wizard=
for _ in $(seq 300); do
    wizard=$(DISPLAY=$disp xdotool search --name 'KP33' 2>/dev/null | grep -vx "$question" | head -1)
    [ -n "$wizard" ] && break
    sleep 0.1
done
echo "  the question: $asked; then: \"$(name "$wizard")\", $(width "$wizard") px wide"
# The pages, not the question once more: a window of the same caption, wider.
check "install after the program closed, on screen: Retry goes on to the pages" \
    test -n "$wizard" -a "$(width "$wizard")" -gt "${asked_width:-9999}"
kill "$asking" 2>/dev/null
wait "$asking" 2>/dev/null
kill "$xpid" 2>/dev/null
settle
check "install after the program closed, on screen: nothing installed yet" not test -e "$dir/kp33.exe"

check "install: setup.exe /S" install
check "installed kp33.exe" test -f "$dir/kp33.exe"
check "installed HELP\\help.html" test -f "$dir/HELP/help.html"
check "installed the fonts' licence" grep -q 'SIL OPEN FONT LICENSE' "$dir/HELP/liberation-fonts-license.txt"
check "installed uninstall.exe" test -f "$dir/uninstall.exe"
check "Start-menu shortcut \"Термометр KP33.lnk\"" test -f "$lnk"
check "shortcut points at kp33.exe" grep -qaF "$exe_win" "$lnk"
check "uninstall key in reg query" haskey
check "DisplayName \"Термометр KP33\"" test "$(regvalue DisplayName)" = "Термометр KP33"
check "DisplayVersion set" test -n "$(regvalue DisplayVersion)"
check "InstallLocation is the folder" test "$(regvalue InstallLocation)" = "$localappdata\\Programs\\KP33"
check "UninstallString quoted" test "$(regvalue UninstallString)" = "\"$localappdata\\Programs\\KP33\\uninstall.exe\""
check "Publisher \"Команда KP33\"" test "$(regvalue Publisher)" = "Команда KP33"
# The program's files in KiB, as the installed-programs list shows them.
program_kib=$({ stat -c %s "$dir/kp33.exe" "$dir/uninstall.exe"; find "$dir/HELP" -type f -printf '%s\n'; } |
    awk '{ s += $1 } END { print int((s + 1023) / 1024) }')
size=$(dwordvalue EstimatedSize)
echo "  EstimatedSize ${size:-none} KiB, program files ${program_kib} KiB"
check "EstimatedSize is the program files" test -n "$size" -a "${size:-0}" -ge $((program_kib - 8)) -a "${size:-0}" -le $((program_kib + 64))

if [ -n "$hook" ]; then
    export KP33_DIR=$dir KP33_EXE=$exe_win
    check "after-install command" bash -c "$hook"
    check "after-install command left nothing running" settle
fi

# What the program itself writes beside kp33.exe.
mkdir -p "$dir/DATA"
printf '[General]\r\nmarker=kept\r\n' > "$dir/KP33.ini"
printf 'time;t\r\n0;21.5\r\n' > "$dir/DATA/x.csv"
cp "$dir/KP33.ini" "$work/ini" && cp "$dir/DATA/x.csv" "$work/csv"
"$WINE" reg add "$record" /v Product /d "Virtual thermometr KP33" /f >/dev/null 2>&1

check "uninstall while the program runs: a stand-in holds the mutex" hold
# _?= runs the uninstaller in place, not from a copy in %TEMP%, so its status is its own.
timeout 300 "$WINE" "$dir/uninstall.exe" /S "_?=$localappdata\\Programs\\KP33"
status=$?
check "uninstall while the program runs: uninstall.exe /S ends with 2 (status $status)" test "$status" -eq 2
check "uninstall while the program runs: kp33.exe stays" test -f "$dir/kp33.exe"
check "uninstall while the program runs: the uninstall key stays" haskey
check "uninstall while the program runs: the registry record stays" hasrecord
release
settle

check "uninstall: QuietUninstallString" uninstall
check "removed kp33.exe" not test -e "$dir/kp33.exe"
check "removed HELP\\" not test -e "$dir/HELP"
check "removed uninstall.exe" not test -e "$dir/uninstall.exe"
check "removed the shortcut" not test -e "$lnk"
check "removed the uninstall key" not haskey
check "removed the registry record" not hasrecord
check "kept KP33.ini" cmp -s "$dir/KP33.ini" "$work/ini"
check "kept DATA\\x.csv" cmp -s "$dir/DATA/x.csv" "$work/csv"

# Installing again over the user's files leaves them alone; without them the
# uninstaller takes the folder too.
# A large DATA\ is the user's, not the program's.
head -c 8M /dev/zero > "$dir/DATA/big.csv"
check "reinstall over the kept files" install
check "reinstall kept KP33.ini" cmp -s "$dir/KP33.ini" "$work/ini"
check "EstimatedSize leaves DATA\\ out ($(dwordvalue EstimatedSize) KiB)" test "$(dwordvalue EstimatedSize)" = "$size"
rm -rf "$dir/KP33.ini" "$dir/DATA"
check "uninstall with no user files" uninstall
check "removed the folder" not test -e "$dir"

echo "$failures failed, $((SECONDS - start)) s"
[ "$failures" -eq 0 ]
