#!/usr/bin/env bash
# Cross-builds a minimal static Qt (qtbase) for 64-bit Windows from Debian's own
# qt6-base source package, once, into a cache folder outside the checkout, and
# prints that folder. The folder's name is a key made of the source version, the
# compiler version and this script, so a change to any of them builds afresh.
#   tools/windows/build-qt.sh [cache-root]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${1:-${KP33_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/kp33}}
mkdir -p "$root"

# The source comes from the same archive as the host Qt, so moc, rcc and uic
# (Debian's, used as the host tools) match the target libraries' version.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    cat > /etc/apt/sources.list.d/kp33-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt-get update -qq
fi
version=$(apt-cache showsrc qt6-base 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)
if [ -z "$version" ]; then
    apt-get update -qq
    version=$(apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | sort -V | tail -1)
fi
[ -n "$version" ] || { echo "qt6-base source package not found" >&2; exit 1; }
gccver=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)
key=$(printf '%s\n%s\n' "$version" "$gccver" | cat - "$0" "$here/mingw-toolchain.cmake" | sha256sum | cut -c1-12)
prefix="$root/qt-${version//[:+~]/_}-mingw$gccver-$key"
if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d "$root/qt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Building static Qt $version for Windows into $prefix (once; about 35 min on 2 cores)" >&2
( cd "$work" && apt-get source -qq "qt6-base=$version" >/dev/null 2>"$work/source.log" ) \
    || { cat "$work/source.log" >&2; exit 1; }
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
# dpkg-source has applied Debian's patches (its security fixes among them).

cmake -G Ninja -S "$src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix.tmp" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_pkg_config=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_zstd=OFF \
    -DFEATURE_androiddeployqt=OFF -DFEATURE_windeployqt=OFF \
    >"$work/configure.log" 2>&1 || { tail -40 "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 \
    || { grep -B2 -A20 'FAILED' "$work/build.log" | head -60 >&2; exit 1; }
rm -rf "$prefix.tmp"
cmake --install "$work/build" >/dev/null
# The install names its own prefix inside its CMake files only relatively, so
# the folder can be renamed into place; a half-built one is never taken.
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
echo "$prefix"
