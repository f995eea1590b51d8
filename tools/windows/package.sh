#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from a folder holding
# kp33.exe and HELP\:
#   tools/windows/package.sh <stage-folder> <out-folder> <version>
# writes <out>/kp33-setup.exe and <out>/kp33-<version>-win64.zip (top folder KP33\).
# Every packed file gets one time stamp (SOURCE_DATE_EPOCH, or else kp33.exe's),
# so the same input makes the same two files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
die() { echo "package.sh: $*" >&2; exit 1; }

[ $# -eq 3 ] || die "usage: package.sh <stage-folder> <out-folder> <version>"
stage=$1 out=$2 version=$3
[ -f "$stage/kp33.exe" ] || die "$stage/kp33.exe not found"
[ -f "$stage/HELP/help.html" ] || die "$stage/HELP/help.html not found"
# The program carries fonts whose licence must travel with every copy.
[ -f "$stage/HELP/liberation-fonts-license.txt" ] || die "$stage/HELP/liberation-fonts-license.txt not found"
[[ $version =~ ^[0-9A-Za-z._+-]+$ ]] || die "bad version '$version'"
for tool in makensis zip; do
    command -v "$tool" >/dev/null || die "$tool not found (apt-get install nsis zip)"
done

# Windows version resources take exactly four numbers: 1.1 -> 1.1.0.0, 1.1.0-rc1 -> 1.1.0.0.
IFS=. read -r -a nums <<< "$(grep -oE '^[0-9]+(\.[0-9]+){0,3}' <<< "$version" || true)"
[ ${#nums[@]} -gt 0 ] || die "version '$version' does not start with a number"
while [ ${#nums[@]} -lt 4 ]; do nums+=(0); done
fileversion=$(IFS=.; echo "${nums[*]}")

mkdir -p "$out" || die "cannot make $out"
out=$(cd "$out" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

mkdir "$tmp/KP33"
cp -R "$stage/kp33.exe" "$stage/HELP" "$tmp/KP33/"
stamp=${SOURCE_DATE_EPOCH:-$(stat -c %Y "$stage/kp33.exe")}
chmod -R u=rwX,go=rX "$tmp/KP33"
find "$tmp/KP33" -exec touch -h -d "@$stamp" {} +

if ! makensis -V2 -WX -NOCONFIG "-DSRCDIR=$tmp/KP33" "-DOUTFILE=$tmp/kp33-setup.exe" \
        "-DVERSION=$version" "-DFILEVERSION=$fileversion" "$here/kp33.nsi" > "$tmp/makensis.log" 2>&1; then
    cat "$tmp/makensis.log" >&2
    die "makensis failed"
fi

zipname="kp33-$version-win64.zip"
# zip stores local times: fix the zone. -X leaves out the owner and the extra time fields.
if ! (cd "$tmp" && find KP33 | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$zipname") > "$tmp/zip.log" 2>&1; then
    cat "$tmp/zip.log" >&2
    die "zip failed"
fi

mv -f "$tmp/kp33-setup.exe" "$out/kp33-setup.exe"
mv -f "$tmp/$zipname" "$out/$zipname"
