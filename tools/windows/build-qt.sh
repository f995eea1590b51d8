#!/usr/bin/env bash
# Cross-builds a minimal static Qt (qtbase) for 64-bit Windows from Debian's own
# qt6-base source package, once, into a cache folder outside the checkout, and
# prints that folder.
#   tools/windows/build-qt.sh [cache-root]
#   tools/windows/build-qt.sh --pack OUT-DIR   the same, then packs the prefix
#                                              as an archive others can take
#   tools/windows/build-qt.sh --record         prints the inputs record only
# What Qt becomes depends on four inputs only: the qt6-base source version, the
# compiler version, the configure options and the toolchain file. They are
# written as a record inside every prefix, and the folder's name is keyed on
# them (not on this script's text), so a comment here never costs a rebuild.
#
# Before building, a prebuilt archive is taken from $KP33_QT_ARCHIVE_DIR when
# its checksum is right and its recorded inputs equal these. Beside each
# NAME.tar.xz stand SHA256SUMS and its record, NAME.inputs.txt (or inputs.txt).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/paths.sh"
pack= only_record=
if [ "${1:-}" = "--record" ]; then
    only_record=1
    shift
elif [ "${1:-}" = "--pack" ]; then
    [ -n "${2:-}" ] || { echo "usage: $0 --pack OUT-DIR" >&2; exit 2; }
    mkdir -p "$2" && pack=$(cd "$2" && pwd)
    shift 2
fi
root=${1:-${KP33_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/kp33}}
[ -n "$only_record" ] || mkdir -p "$root"
apt_etc=${KP33_APT_ETC:-/etc/apt} # another folder only for the script's own test
toolchain=$here/mingw-toolchain.cmake
cxx=x86_64-w64-mingw32-g++-posix

# Everything but the prefix and the toolchain file, which are passed apart.
options=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -DQT_HOST_PATH="$KP33_HOST_QT"
    -DQT_HOST_PATH_CMAKE_DIR="$KP33_HOST_QT_CMAKE_DIR"
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_pkg_config=OFF
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_jpeg=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_zstd=OFF
    -DFEATURE_androiddeployqt=OFF -DFEATURE_windeployqt=OFF
)

# The source is the one the installed host Qt was built from, so moc, rcc and
# uic (Debian's, used as the host tools) match the target libraries exactly.
version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "qt6-base-dev is not installed: it gives the host tools and the source version" >&2; exit 1; }
gccver=$($cxx -dumpfullversion)
gccpkg=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null || echo unknown)
toolsum=$(sha256sum "$toolchain" | cut -c1-16)

# The record, in the words an archive's inputs.txt uses.
record() {
    local commit
    commit=$(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo unknown)
    echo "qt6-base source: $version (apt-get source, Debian's patches applied)"
    echo "compiler: $cxx $gccver (Debian's g++-mingw-w64-x86-64-posix $gccpkg)"
    echo "built by: tools/windows/build-qt.sh of $commit (sha256 $(sha256sum "$0" | cut -c1-16)), toolchain tools/windows/mingw-toolchain.cmake (sha256 $toolsum)"
    echo "configure options (as the script passes them, prefix and toolchain left out):"
    printf '  %s\n' "${options[@]}"
}
# What of a record decides what Qt is: who built it and the compiler's package
# revision do not (a rebuilt package of the same gcc makes the same code).
inputs_of() { # record-file
    local text
    text=$(cat "$1")
    sed -n -e 's/^qt6-base source: \([^ ]*\).*/source \1/p' \
           -e 's/^compiler: \([^ ]* [^ ]*\).*/compiler \1/p' \
           -e 's/.*toolchain [^ ]* (sha256 \([0-9a-f]*\)).*/toolchain \1/p' <<<"$text"
    sed -n 's/^  \(-D.*\)/option \1/p' <<<"$text" | sort
}
if [ -n "$only_record" ]; then
    record
    exit 0
fi
ours=$(record | inputs_of /dev/stdin)
key=$(printf '%s\n' "$ours" | sha256sum | cut -c1-12)
prefix="$root/qt-${version//[:+~]/_}-mingw$gccver-$key"
matches() { # record-file
    [ -f "$1" ] && [ "$(inputs_of "$1")" = "$ours" ]
}

done_with() { # prefix
    if [ -n "$pack" ]; then
        local name
        name=qt-$version-mingw$gccver
        tar -C "$(dirname "$1")" -cJf "$pack/$name.tar.xz" "$(basename "$1")"
        cp "$1/kp33-inputs.txt" "$pack/$name.inputs.txt"
        ( cd "$pack" && { grep -v " $name.tar.xz\$" SHA256SUMS 2>/dev/null || true; sha256sum "$name.tar.xz"; } > SHA256SUMS.new \
            && mv SHA256SUMS.new SHA256SUMS )
        echo "Packed $pack/$name.tar.xz" >&2
    fi
    echo "$1"
    exit 0
}

if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ] && matches "$prefix/kp33-inputs.txt"; then
    done_with "$prefix"
fi

work=$(mktemp -d "$root/qt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A prebuilt archive, where one has exactly these inputs.
take_archive() { # archive
    local archive=$1 dir name rec top
    dir=$(dirname "$archive") name=$(basename "$archive")
    rec=$dir/${name%.tar.xz}.inputs.txt
    [ -f "$rec" ] || rec=$dir/inputs.txt
    if ! [ -f "$rec" ]; then
        echo "Prebuilt Qt $name: no record of its inputs; not taken" >&2; return 1
    fi
    if ! matches "$rec"; then
        echo "Prebuilt Qt $name was built from other inputs; not taken:" >&2
        diff <(inputs_of "$rec") <(printf '%s\n' "$ours") | sed -n 's/^[<>]/ &/p' >&2 || true
        return 1
    fi
    local sum
    sum=$(awk -v n="$name" '$2 == n && $1 ~ /^[0-9a-f]+$/ && length($1) == 64' "$dir/SHA256SUMS" 2>/dev/null || true)
    if [ -z "$sum" ] || ! ( cd "$dir" && sha256sum -c --status <<<"$sum" ); then
        echo "Prebuilt Qt $name: checksum missing or wrong; not taken" >&2; return 1
    fi
    rm -rf "$work/unpack" && mkdir "$work/unpack"
    tar -C "$work/unpack" -xJf "$archive" || { echo "Prebuilt Qt $name does not unpack; not taken" >&2; return 1; }
    top=$(find "$work/unpack" -mindepth 1 -maxdepth 1)
    if [ "$(printf '%s\n' "$top" | wc -l)" -ne 1 ] || ! [ -f "$top/lib/cmake/Qt6/Qt6Config.cmake" ]; then
        echo "Prebuilt Qt $name is not one Qt prefix; not taken" >&2; return 1
    fi
    if [ -f "$top/kp33-inputs.txt" ] && ! matches "$top/kp33-inputs.txt"; then
        echo "Prebuilt Qt $name records other inputs inside than beside it; not taken" >&2; return 1
    fi
    cp "$rec" "$top/kp33-inputs.txt"
    # Qt's CMake files find everything relative to themselves, so the prefix
    # works under any name; a half-moved one is never taken (no record yet).
    rm -rf "$prefix"
    mv "$top" "$prefix" || return 1
    echo "Took prebuilt Qt $version for Windows from $archive" >&2
}
if [ -n "${KP33_QT_ARCHIVE_DIR:-}" ]; then
    for archive in "$KP33_QT_ARCHIVE_DIR"/*.tar.xz; do
        [ -f "$archive" ] || continue
        take_archive "$archive" && done_with "$prefix"
    done
fi

# Debian's source from the same places the machine takes its packages from: a
# deb-src entry for each of its own deb entries, whatever mirror they name.
deb_src_entries() {
    local f
    for f in "$apt_etc/sources.list" "$apt_etc"/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f"
    done
    for f in "$apt_etc"/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; FS = "\n" }
             {
                 deb = 0; off = 0; out = ""
                 for (i = 1; i <= NF; i++) {
                     if ($i ~ /^#/) continue
                     if ($i ~ /^Types:/) { if ($i ~ /[: ]deb( |$)/) deb = 1; $i = "Types: deb-src" }
                     if ($i ~ /^Enabled:[ \t]*no/) off = 1
                     out = out $i "\n"
                 }
                 if (deb && !off) printf "%s\n", out
             }' "$f"
    done
}
# The apt sources and the package lists are root's: through sudo, as dev.sh
# installs packages, when the script runs as another user.
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Adding the source entries needs root: run as root or install sudo." >&2; exit 1; }
    as_root=(sudo)
fi
if ! grep -rqs '^Types:.*deb-src\|^[[:space:]]*deb-src ' "$apt_etc/sources.list" "$apt_etc/sources.list.d/"; then
    srcfile=$apt_etc/sources.list.d/kp33-src.sources
    entries=$(deb_src_entries)
    [ -n "$entries" ] || { echo "No deb entry in the apt sources to take Debian's source from" >&2; exit 1; }
    # One-line entries go to a .list of their own; deb822 stanzas stay as such.
    lines=$(printf '%s\n' "$entries" | grep '^deb-src ' || true)
    stanzas=$(printf '%s\n' "$entries" | grep -v '^deb-src ' || true)
    [ -z "$lines" ] || printf '%s\n' "$lines" | "${as_root[@]}" tee "${srcfile%.sources}.list" >/dev/null
    [ -z "$stanzas" ] || printf '%s\n' "$stanzas" | "${as_root[@]}" tee "$srcfile" >/dev/null
    "${as_root[@]}" apt-get update -qq
fi
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -qx "Version: $version"; then
    "${as_root[@]}" apt-get update -qq
fi

echo "Building static Qt $version for Windows into $prefix (once; about 43 min on 2 cores)" >&2
( cd "$work" && apt-get source -qq "qt6-base=$version" >/dev/null 2>"$work/source.log" ) \
    || { cat "$work/source.log" >&2
         echo "The source of the installed Qt ($version) is not in the archive: update qt6-base-dev" >&2
         exit 1; }
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
# dpkg-source has applied Debian's patches (its security fixes among them).

cmake -G Ninja -S "$src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix.tmp" \
    "${options[@]}" \
    >"$work/configure.log" 2>&1 || { tail -40 "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 \
    || { grep -B2 -A20 'FAILED' "$work/build.log" | head -60 >&2; exit 1; }
rm -rf "$prefix.tmp"
cmake --install "$work/build" >/dev/null
record > "$prefix.tmp/kp33-inputs.txt"
# The install names its own prefix inside its CMake files only relatively, so
# the folder can be renamed into place; a half-built one is never taken.
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
done_with "$prefix"
