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

echo "== end to end under Wine"
"$here/test-wine.sh" "$build" "$sim" || status=1

echo "== installer under Wine"
"$here/test-installer.sh" "$build/dist/kp33-setup.exe" "$here/launch-installed.sh" || status=1

echo "== bus benchmark through Wine (figures only)"
"$here/bench-wine.sh" "$build" "$sim" || status=1

exit $status
