# Shared by the Windows test scripts (sourced): Wine prefixes, X servers, the
# simulator on a pseudo-terminal mapped to a COM port. Every run gets its own
# prefix, folder and display, so runs never meet.

. "$(dirname "${BASH_SOURCE[0]}")/paths.sh"
export WINEDEBUG=${WINEDEBUG:--all}
# No offers to download Mono or Gecko into a test prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# wine_template DIR: a fresh prefix with fonts a Windows program expects.
wine_template() {
    local p=$1
    WINEPREFIX=$p "$WINE" wineboot -i >/dev/null 2>&1 || true
    # A fresh prefix resolves "MS Shell Dlg" and "Arial" to a serif face; Wine's
    # own fonts and Liberation Sans (metric-compatible with Arial) cover them.
    cp /usr/share/wine/fonts/*.ttf "$p/drive_c/windows/Fonts/" 2>/dev/null || true
    local f
    for f in "Arial" "MS Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
        WINEPREFIX=$p "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d "Liberation Sans" /f >/dev/null 2>&1
    done
    WINEPREFIX=$p "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Arial Black" /d "Liberation Sans" /f >/dev/null 2>&1
    WINEPREFIX=$p "$WINESERVER" -w
}

# wine_prefix TEMPLATE DIR: a copy of the template, quicker than a new boot.
wine_prefix() { cp -a "$1" "$2"; }

# wine_set_port PREFIX COMn DEVICE: Wine remakes dosdevices/comN from its
# registry at every start, so the mapping goes there; it takes effect when the
# prefix's wineserver next starts (wine_restart).
wine_set_port() {
    WINEPREFIX=$1 "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "$2" /d "$3" /f >/dev/null 2>&1
}

# wine_restart PREFIX: the prefix's wineserver stopped, so its next start
# reads the port map again.
wine_restart() {
    WINEPREFIX=$1 "$WINESERVER" -k 2>/dev/null || true
    WINEPREFIX=$1 "$WINESERVER" -w 2>/dev/null || true
}

# wine_map_port PREFIX COMn DEVICE: one port mapped, in effect at once.
wine_map_port() {
    wine_set_port "$@"
    wine_restart "$1"
}

# start_xvfb VAR_DISPLAY VAR_PID [WxHxD]: an X server on a free display.
start_xvfb() {
    local fifo d
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${3:-1024x768x24}" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    local pid=$!
    read -r d <"$fifo"
    rm -f "$fifo"
    printf -v "$1" ':%s' "$d"
    printf -v "$2" '%s' "$pid"
}

# start_sim VAR_PID LINK args...: the simulator on a pseudo-terminal at LINK.
# Its pid goes into the caller's pids list at once, so the caller's cleanup
# stops it also when its link never appears.
start_sim() {
    local var=$1 link=$2
    shift 2
    "$KP33_SIM" --link "$link" "$@" >/dev/null 2>&1 &
    printf -v "$var" '%s' "$!"
    pids+=("$!")
    local i
    for i in $(seq 100); do [ -e "$link" ] && return 0; sleep 0.05; done
    echo "simulator did not start" >&2
    return 1
}
