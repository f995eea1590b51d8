#!/usr/bin/env bash
# The help page maker keeps each platform's text and drops the other's, marks
# alone on their lines leaving no empty line behind, and stops on a mark out
# of place, naming its line, with no page written.
#   test-helppage.sh path/to/tools/helppage.cmake
set -euo pipefail
script=$1
t=$(mktemp -d "${TMPDIR:-/tmp}/kp33-helppage.XXXXXX")
trap 'rm -rf "$t"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
page() { # platform source page
    cmake -DSOURCE="$2" -DPAGE="$3" -DPLATFORM="$1" -P "$script"
}

printf '%s\n' '<h2 data-keywords="a; b">Both</h2>' '<!--#posix-->' '<p>/dev/ttyS0</p>' '<!--#end-->' \
    '<!--#win-->' '<p>COM7</p>' '<!--#end-->' '<p>in <!--#win-->C:\<!--#end--><!--#posix-->/<!--#end-->, ok</p>' \
    '<!-- an ordinary comment stays -->' '<!--#posix-->' 'P' '<!--#end--><!--#win-->' 'W' '<!--#end-->' >"$t/good.in"
page posix "$t/good.in" "$t/posix.html" || fail "posix page not made"
page win "$t/good.in" "$t/win.html" || fail "win page not made"
printf '%s\n' '<h2 data-keywords="a; b">Both</h2>' '<p>/dev/ttyS0</p>' '<p>in /, ok</p>' \
    '<!-- an ordinary comment stays -->' 'P' >"$t/posix.want"
printf '%s\n' '<h2 data-keywords="a; b">Both</h2>' '<p>COM7</p>' '<p>in C:\, ok</p>' \
    '<!-- an ordinary comment stays -->' 'W' >"$t/win.want"
cmp -s "$t/posix.html" "$t/posix.want" || fail "posix page: $(cat -A "$t/posix.html")"
cmp -s "$t/win.html" "$t/win.want" || fail "win page: $(cat -A "$t/win.html")"

# The HELP folder: its other files beside the page, the source not.
mkdir "$t/HELP" && cp "$t/good.in" "$t/HELP/help.html.in" && echo licence >"$t/HELP/LICENSE.txt"
cmake -DSOURCE="$t/HELP" -DOUTPUT="$t/out/HELP" -DPLATFORM=win -P "$script" || fail "folder not made"
[ "$(ls "$t/out/HELP")" = "$(printf 'LICENSE.txt\nhelp.html')" ] || fail "folder holds: $(ls "$t/out/HELP")"
cmp -s "$t/out/HELP/help.html" "$t/win.html" || fail "the folder's page differs from the page alone"

bad() { # what line-in-message source-lines...
    local what=$1 where=$2
    shift 2
    printf '%s\n' "$@" >"$t/bad.in"
    rm -f "$t/bad.html"
    if page win "$t/bad.in" "$t/bad.html" >"$t/bad.log" 2>&1; then
        fail "$what: accepted"
    # CMake wraps a long message at any space.
    elif ! tr -s ' \n' '  ' <"$t/bad.log" | grep -qF "$where"; then
        fail "$what: the message does not say $where: $(cat "$t/bad.log")"
    fi
    [ ! -e "$t/bad.html" ] || fail "$what: a page was written"
}
bad "nested" "bad.in:3:" '<p>' '<!--#win-->' '<!--#posix-->' '<!--#end-->'
bad "end outside a block" "bad.in:2:" '<p>' '<!--#end-->'
bad "unclosed" "win block has no" '<!--#win-->' '<p>'
bad "unknown mark" "bad.in:1:" '<!--#linux-->' '<!--#end-->'
bad "mark cut short" "bad.in:2:" 'x' '<!--#win'
cmake -DSOURCE="$t/good.in" -DPAGE="$t/bad.html" -DPLATFORM=mac -P "$script" >"$t/bad.log" 2>&1 &&
    fail "an unknown platform was accepted"

[ "$failures" -eq 0 ] && echo "all helppage checks passed"
exit $((failures > 0))
