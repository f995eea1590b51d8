#!/usr/bin/env bash
# Everything the Windows edition is tested with, under Wine:
#   tools/windows/test-windows.sh BUILD_DIR SIMULATOR
# the unit suites built for Windows, the program end to end against the
# simulator, the installer, and the bus benchmark's figures through Wine.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
sim=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
. "$here/winelib.sh"
export KP33_SIM=$sim

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-wintest.XXXXXX")
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    [ -d "$scratch/pfx" ] && WINEPREFIX=$scratch/pfx "$WINESERVER" -k 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
status=0

echo "== unit suites under Wine"
wine_template "$scratch/pfx"
start_xvfb disp xpid
pids+=("$xpid")
mkdir -p "$scratch/tmp"
# The suites' own program folders and settings land in this prefix only.
WINEPREFIX=$scratch/pfx DISPLAY=$disp ctest --test-dir "$build" --output-on-failure \
    --parallel "$(nproc)" || status=1

echo "== regional formats under Wine"
# Rows and file names as a Russian, a US and a British user's formats make
# them: Wine takes the user's locale from LC_ALL, also where the host has no
# such locale (file names then hold ASCII only, which these do). Each start
# under another locale rewrites the prefix's regional settings, so these run
# one by one, after the suites.
for locale in ru_RU.UTF-8 en_US.UTF-8 en_GB.UTF-8; do
    out=regional-${locale%%.*}.txt
    (cd "$scratch" && WINEPREFIX=$scratch/pfx LC_ALL=$locale "$WINE" "$build/bin/tst_datafile.exe" \
        formatsOfTheUser -o "$out,txt" >/dev/null 2>&1)
    if grep -q '^PASS   : TestDataFile::formatsOfTheUser()' "$scratch/$out"; then
        echo "ok   $locale"
    else
        echo "FAIL $locale"
        cat "$scratch/$out" 2>/dev/null
        status=1
    fi
done

echo "== end to end under Wine"
"$here/test-wine.sh" "$build" "$sim" || status=1

echo "== installer under Wine"
"$here/test-installer.sh" "$build/dist/kp33-setup.exe" "$here/launch-installed.sh" || status=1

echo "== bus benchmark through Wine (figures only)"
"$here/bench-wine.sh" "$build" "$sim" || status=1

exit $status
