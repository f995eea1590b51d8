#!/usr/bin/env bash
# Builds the Windows edition and its packages:
#   tools/windows/build.sh BUILD_DIR
# the static Qt (tools/windows/build-qt.sh: cached, or from the prebuilt
# archive in $KP33_QT_ARCHIVE_DIR), then configure and build with the mingw
# toolchain (no warning allowed), strip kp33.exe into BUILD_DIR/stage beside
# its HELP\, and make the installer and the zip in BUILD_DIR/dist.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$1
. "$here/paths.sh"

qt=$("$here/build-qt.sh")
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$qt" -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH="$KP33_HOST_QT" \
    -DQT_HOST_PATH_CMAKE_DIR="$KP33_HOST_QT_CMAKE_DIR" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE" >/dev/null
if ! cmake --build "$build" --parallel "$(nproc)" >"$build/build.log" 2>&1; then
    grep -v '^\[' "$build/build.log" | tail -60 >&2
    exit 1
fi
if grep -q 'warning' "$build/build.log"; then
    grep -B2 -A6 'warning' "$build/build.log" | head -60 >&2
    echo "The Windows build has warnings ($build/build.log)." >&2
    exit 1
fi

stage=$build/stage
rm -rf "$stage" && mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/kp33.exe" "$build/bin/kp33.exe"
cp -r "$build/bin/HELP" "$stage/"
"$here/package.sh" "$stage" "$build/dist" "$(cat "$build/version.txt")"
ls -l "$build/dist"
