#!/usr/bin/env bash
# The Windows Qt script takes a prebuilt archive only when its checksum and
# its recorded inputs are right, and derives its deb-src entries from the
# machine's own deb entries. The compiler, dpkg-query and apt are stand-ins,
# so nothing is built, installed or changed on the machine.
#   test-build-qt.sh path/to/tools/windows/build-qt.sh
set -euo pipefail
script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
t=$(mktemp -d "${TMPDIR:-/tmp}/kp33-build-qt.XXXXXX")
trap 'rm -rf "$t"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$t/bin" "$t/apt/sources.list.d"
cat > "$t/bin/x86_64-w64-mingw32-g++-posix" <<'EOF'
#!/bin/sh
echo 12-posix
EOF
cat > "$t/bin/dpkg-query" <<'EOF'
#!/bin/sh
case "$*" in *qt6-base-dev*) echo 6.4.2+dfsg-10 ;; *) echo "${GCC_PKG:-12.2.0-14}" ;; esac
EOF
# apt is never reached when an archive is taken; when it is, the source is
# "not found", which ends the script before any build.
printf '#!/bin/sh\necho "apt-get $*" >> "%s/apt.log"\n[ "$1" = update ]\n' "$t" > "$t/bin/apt-get"
printf '#!/bin/sh\nexit 0\n' > "$t/bin/apt-cache"
chmod +x "$t/bin"/*
cat > "$t/apt/sources.list.d/debian.sources" <<'EOF'
Types: deb
# a comment inside the stanza
URIs: http://mirror.invalid/debian
Suites: bookworm bookworm-updates
Components: main

Types: deb
URIs: http://mirror.invalid/other
Suites: x
Components: main
Enabled: no
EOF
echo 'deb [arch=amd64] http://mirror.invalid/extra bookworm main' > "$t/apt/sources.list"

run() { # archive-dir cache-root -> stdout in $t/out, stderr in $t/err, status in $status
    status=0
    PATH="$t/bin:$PATH" KP33_APT_ETC="$t/apt" KP33_QT_ARCHIVE_DIR="$1" \
        "$script" "$2" >"$t/out" 2>"$t/err" || status=$?
}

# An archive of one fake prefix, its record as the script writes it, and its sum.
make_archive() { # dir [sed-expression applied to the record]
    mkdir -p "$1" "$t/pkg/qt-any-name/lib/cmake/Qt6"
    touch "$t/pkg/qt-any-name/lib/cmake/Qt6/Qt6Config.cmake"
    tar -C "$t/pkg" -cJf "$1/qt-test.tar.xz" qt-any-name
    PATH="$t/bin:$PATH" GCC_PKG=12.2.0-14+old "$script" --record | sed -e "${2:-}" > "$1/inputs.txt"
    ( cd "$1" && sha256sum qt-test.tar.xz > SHA256SUMS )
}

# 1. Matching inputs (only the compiler package revision differs): taken.
make_archive "$t/a1"
run "$t/a1" "$t/c1"
prefix=$(cat "$t/out")
[ $status -eq 0 ] || fail "a matching archive: exit $status: $(cat "$t/err")"
[ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ] || fail "a matching archive: no prefix at '$prefix'"
cmp -s "$prefix/kp33-inputs.txt" "$t/a1/inputs.txt" || fail "a taken archive keeps its record in the prefix"
[ ! -e "$t/apt.log" ] || fail "a taken archive needs no apt: $(cat "$t/apt.log")"
# The cached prefix is checked by its record and taken without any archive.
run "" "$t/c1"
[ $status -eq 0 ] && [ "$(cat "$t/out")" = "$prefix" ] || fail "the cached prefix is taken again"
[ ! -e "$t/apt.log" ] || fail "a cached prefix needs no apt"

# 2. Each refusal says why and goes on to build from source (here: stops at
# the missing source), never taking the archive.
check_refused() { # what dir expected-message
    run "$2" "$t/c-$1"
    [ $status -ne 0 ] || fail "$1: taken"
    grep -q "$3" "$t/err" || fail "$1: no '$3' in: $(cat "$t/err")"
    grep -q 'apt-get source' "$t/apt.log" 2>/dev/null || fail "$1: no build from source after the refusal"
    [ -z "$(find "$t/c-$1" -name Qt6Config.cmake)" ] || fail "$1: a prefix was left"
    rm -f "$t/apt.log"
}
make_archive "$t/a2" 's/-DFEATURE_zstd=OFF/-DFEATURE_zstd=ON/'
check_refused options "$t/a2" 'option -DFEATURE_zstd=ON'
make_archive "$t/a3" 's/^qt6-base source: [^ ]*/qt6-base source: 6.4.2+dfsg-9/'
check_refused source "$t/a3" 'source 6.4.2+dfsg-9'
make_archive "$t/a4" 's/(sha256 \([0-9a-f]*\))$/(sha256 0000000000000000)/'
check_refused toolchain "$t/a4" 'toolchain 0000000000000000'
make_archive "$t/a5" 's/ 12-posix / 13-posix /'
check_refused compiler "$t/a5" 'compiler x86_64-w64-mingw32-g++-posix 13-posix'
make_archive "$t/a6"
echo 'tail' >> "$t/a6/qt-test.tar.xz"
check_refused checksum "$t/a6" 'checksum missing or wrong'
make_archive "$t/a7"
rm "$t/a7/SHA256SUMS"
check_refused no-checksum "$t/a7" 'checksum missing or wrong'

# 3. The deb-src entries written above follow the machine's own deb entries.
src=$t/apt/sources.list.d/kp33-src.sources
grep -q '^Types: deb-src$' "$src" && grep -q '^URIs: http://mirror.invalid/debian$' "$src" \
    || fail "deb822 stanza not turned into deb-src: $(cat "$src" 2>/dev/null)"
! grep -q 'mirror.invalid/other' "$src" || fail "a disabled stanza was copied"
grep -qx 'deb-src \[arch=amd64\] http://mirror.invalid/extra bookworm main' "$t/apt/sources.list.d/kp33-src.list" \
    || fail "one-line entry not turned into deb-src"

[ $failures -eq 0 ] && echo "build-qt.sh: every case as expected"
[ $failures -eq 0 ]
