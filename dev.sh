#!/usr/bin/env bash
# KP33 developer entry point.
#   ./dev.sh run    install what is missing, build, start the program from run/
#   ./dev.sh test   install what is missing, build, run every test headless
#   ./dev.sh demo   the program against the sensor simulator, in a scratch folder
#   ./dev.sh bench  build and run the benchmarks (prints figures)
#   ./dev.sh perf   the README's performance table, with the 90 000-cycle run
#   ./dev.sh asan   the tests again, built with AddressSanitizer and UBSan
#   ./dev.sh tsan   the measurement and data-file tests under ThreadSanitizer
#   ./dev.sh longrun  90 000 measurement cycles on the fast clock (minutes)
#   ./dev.sh adapters 60 s of measuring through adapters of 0..16 ms echo latency
#   ./dev.sh windows  kp33.exe and kp33-setup.exe for 64-bit Windows, tested under Wine
set -euo pipefail
cd "$(dirname "$0")"

# Everything the build, the program and the tests need on a bare Debian 12.
PACKAGES=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-multimedia-dev qt6-translations-l10n qt6-qpa-plugins libgl-dev
    fonts-liberation fonts-liberation2 xvfb xauth python3 locales xdotool x11-utils imagemagick
)

# And for the Windows edition: the cross compiler, Wine to test it (and
# fonts-wine, whose faces the test prefixes copy: only recommended by Wine),
# NSIS for the installer, dpkg-dev to unpack Qt's source package.
WINDOWS_PACKAGES=(
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine nsis dpkg-dev xz-utils zip unzip
)

install_missing() {
    local missing=() p
    for p in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Missing packages (${missing[*]}): run as root or install sudo." >&2; exit 1; }
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
}

# ccache keys on paths relative to the checkout, so a fresh clone elsewhere
# (as CI makes) still finds what an earlier build compiled.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

configure_and_build() { # build-dir [cmake args...] [-- targets...]
    local dir=$1; shift
    local args=() targets=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do args+=("$1"); shift; done
    [ "${1:-}" = "--" ] && { shift; targets=("$@"); }
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" >/dev/null
    if [ ${#targets[@]} -gt 0 ]; then
        cmake --build "$dir" --parallel "$(nproc)" --target "${targets[@]}"
    else
        cmake --build "$dir" --parallel "$(nproc)"
    fi
}

run_tests() { # build-dir [ctest args...]
    local dir=$1; shift
    # Tests never need a display: widgets are drawn offscreen.
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure \
        --parallel "$(nproc)" "$@"
}

cmd=${1:-}
case "$cmd" in
run)
    install_missing
    configure_and_build build
    if [ ! -x build/bin/kp33 ]; then
        echo "Built what there is so far (the sensor simulator: build/bin/kp33-sensor-sim)."
        echo "The program kp33 itself comes with the main window; nothing to start yet."
        exit 0
    fi
    # The program keeps KP33.ini and DATA/ beside itself: run it from a folder
    # outside build/ so its settings and measurement logs survive a rebuild.
    mkdir -p run
    cp -f build/bin/kp33 run/
    [ -d build/bin/HELP ] && cp -rf build/bin/HELP run/
    exec ./run/kp33
    ;;
demo)
    install_missing
    configure_and_build build
    # A scratch folder of its own: the demo never touches run/ or your settings.
    demo=$(mktemp -d "${TMPDIR:-/tmp}/kp33-demo.XXXXXX")
    cp build/bin/kp33 "$demo/"
    [ -d build/bin/HELP ] && cp -r build/bin/HELP "$demo/"
    printf '[GENERAL]\nAutoRun=1\nPORT=1\n[PORTS]\nCOM1=%s\n' "$demo/sensor" > "$demo/KP33.ini"
    build/bin/kp33-sensor-sim --link "$demo/sensor" --sine 120 --control "$demo/control" >/dev/null &
    sim=$!
    trap 'kill $sim 2>/dev/null' EXIT
    for _ in $(seq 50); do [ -e "$demo/sensor" ] && break; sleep 0.1; done
    echo "Demo folder: $demo (data in $demo/DATA; control the sensor with: echo 'temp 40' > $demo/control)"
    "$demo/kp33"
    ;;
test)
    install_missing
    configure_and_build build
    run_tests build --label-exclude longrun
    ;;
longrun)
    install_missing
    configure_and_build build
    run_tests build --label-regex longrun --verbose
    ;;
adapters)
    install_missing
    configure_and_build build
    # The long form of the end-to-end latency test: a minute of measuring per
    # adapter, in a scratch environment of its own.
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-adapters.XXXXXX")
    mkdir -p "$scratch/tmp" "$scratch/config" && mkdir -m 700 "$scratch/run"
    QT_QPA_PLATFORM=offscreen TMPDIR="$scratch/tmp" XDG_RUNTIME_DIR="$scratch/run" \
        XDG_CONFIG_HOME="$scratch/config" KP33_PROGRAM=build/bin/kp33 \
        KP33_SENSOR_SIM=build/bin/kp33-sensor-sim KP33_E2E_ADAPTER_SECONDS=60 \
        KP33_E2E_ADAPTER_LATENCIES=0,1,2,4,8,16 \
        build/bin/tst_e2e readsEverySecondThroughSlowAdapters
    rm -rf "$scratch"
    ;;
bench)
    install_missing
    configure_and_build build
    ctest --test-dir build --output-on-failure --label-regex bench --verbose
    ;;
perf)
    install_missing
    configure_and_build build
    # A scratch configuration folder: the run's close writes the program's
    # information record, which must not land in your own.
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/kp33-perf.XXXXXX")
    mkdir -m 700 "$scratch/run"
    QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$scratch" XDG_RUNTIME_DIR="$scratch/run" TMPDIR="$scratch" \
        KP33_SENSOR_SIM=build/bin/kp33-sensor-sim build/bin/bench_table "${2:-90000}"
    rm -rf "$scratch"
    ;;
asan)
    install_missing
    configure_and_build build-asan -DKP33_SANITIZE=address,undefined
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_tests build-asan --label-exclude 'bench|longrun'
    ;;
tsan)
    install_missing
    configure_and_build build-tsan -DKP33_SANITIZE=thread -- \
        tst_readtemp tst_datafile tst_history tst_txrx kp33-sensor-sim
    # Qt from Debian is not instrumented; the suppressions name only its libraries.
    TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/tests/tsan.supp" \
        run_tests build-tsan --tests-regex 'tst_(readtemp|datafile|history|txrx)$'
    ;;
windows)
    install_missing "${WINDOWS_PACKAGES[@]}"
    # The Linux simulator stands in for the sensor behind Wine's COM1.
    configure_and_build build -- kp33-sensor-sim
    # A prebuilt Qt beside the checkout (the project's shared folder) spares
    # the 45-minute build wherever its recorded inputs match.
    if [ -z "${KP33_QT_ARCHIVE_DIR:-}" ] && [ -d ../shared/qt-cache ]; then
        export KP33_QT_ARCHIVE_DIR=$PWD/../shared/qt-cache
    fi
    tools/windows/build.sh build-win
    tools/windows/test-windows.sh build-win build/bin/kp33-sensor-sim
    ;;
*)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
