# Shared by ./run and the end-to-end scripts: a throwaway Wine prefix in code page 949.
# Source it; then call wine_prefix_up / wine_prefix_down, xvfb_up / xvfb_down.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_prefix_up() {
    # $1: directory to hold the prefix (created). Exports WINEPREFIX and WINE_C.
    local dir=$1
    mkdir -p "$dir"
    export WINEPREFIX="$dir/prefix"
    export WINE_C="$WINEPREFIX/drive_c"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LC_ALL=ko_KR.UTF-8 wineboot -i >/dev/null 2>&1
        local here
        here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
        # regedit reads version 5 files as UTF-16LE with a byte-order mark.
        { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$here/fonts.reg"; } > "$dir/fonts.reg"
        LC_ALL=ko_KR.UTF-8 wine regedit /S "$(winepath -w "$dir/fonts.reg" 2>/dev/null)" >/dev/null 2>&1
        wineserver -w 2>/dev/null
    fi
}

wine_prefix_down() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    return 0
}

XVFB_PID=
xvfb_up() {
    # Starts a private Xvfb unless DISPLAY already works; exports DISPLAY.
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local n
    for n in 91 92 93 94 95 96 97 98 99; do
        [ -e /tmp/.X$n-lock ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        local i
        for i in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
        kill "$XVFB_PID" 2>/dev/null; XVFB_PID=
    done
    echo "could not start Xvfb" >&2
    return 1
}

xvfb_down() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; XVFB_PID=; fi
    return 0
}
