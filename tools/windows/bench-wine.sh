#!/usr/bin/env bash
# The bus benchmark's table through Wine: four simulators at 0, 1, 4 and
# 16 ms echo latency behind COM1..COM4 of one prefix. Prints figures; fails
# only when the benchmark could not read at all.
#   tools/windows/bench-wine.sh BUILD_DIR SIMULATOR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
export KP33_SIM=$2
. "$here/winelib.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-winbench.XXXXXX")
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    WINEPREFIX=$scratch/pfx "$WINESERVER" -k 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
wine_template "$scratch/pfx"
ports=() n=1
for latency in 0 1 4 16; do
    start_sim simpid "$scratch/sensor$n" --conversion instant --temp 21.5 --wire-time --latency-ms "$latency" || exit 1
    wine_set_port "$scratch/pfx" "COM$n" "$(readlink -f "$scratch/sensor$n")"
    ports+=("$latency=COM$n")
    n=$((n + 1))
done
wine_restart "$scratch/pfx"
list=$(IFS=,; echo "${ports[*]}")
WINEPREFIX=$scratch/pfx KP33_BENCH_PORTS=$list "$WINE" "$build/bin/bench_bus.exe" 2>&1 | tr -d '\r'
exit "${PIPESTATUS[0]}"
