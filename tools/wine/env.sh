# Shared by ./run, the end-to-end scripts, the demo, the benchmarks and the ctest launcher:
# how Windows code runs on this machine, and a throwaway Wine prefix in code page 949.
# Source it; it decides once (see wine_choose), then call wine_prefix_up / wine_prefix_down,
# xvfb_up / xvfb_down.
#
# The shipped program is 32-bit, but some kernels refuse every i386 program. There the same
# sources built for x86_64 run under the 64-bit Wine loader. PAVOSET_WINE_ARCH=win32|win64
# forces either path; otherwise it is win32 wherever a 32-bit program can execute.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

PAVOSET_ROOT=${PAVOSET_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export PAVOSET_ROOT

# True when this kernel executes a 32-bit x86 program: a 93-byte static ELF that only exits.
# Needs no i386 package, so it can decide what to install.
can_exec_i386() {
    local probe rc
    probe=$(mktemp /tmp/pavoset-i386.XXXXXX) || return 1
    printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null
    rc=$?
    rm -f "$probe"
    [ "$rc" -eq 0 ]
}

# True when the i386 Wine loader is installed and starts here.
wine32_runs() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Makes `wine`, `wineboot`, `winepath` and `regedit` reach the 64-bit loader: Debian's
# /usr/bin/wine prefers the i386 loader whenever it is installed, and its helpers start
# "wine-stable" from PATH, so a small folder in front of PATH redirects them all.
PAVOSET_WINE64_SHIM=${TMPDIR:-/tmp}/pavoset-wine64-shim
wine64_on_path() {
    local shim=$PAVOSET_WINE64_SHIM
    if [ ! -x "$shim/wine" ]; then
        mkdir -p "$shim"
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/wine.$$"
        chmod +x "$shim/wine.$$" && mv -f "$shim/wine.$$" "$shim/wine"
        ln -sf wine "$shim/wine-stable"
    fi
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
}
wine64_off_path() {
    local kept= dir IFS=:
    for dir in $PATH; do
        [ "$dir" = "$PAVOSET_WINE64_SHIM" ] || kept=${kept:+$kept:}$dir
    done
    export PATH=$kept
    unset WINELOADER WINEARCH
}

# The one decision. Exports PAVOSET_WINE_ARCH (win32|win64), PAVOSET_WIN_PRESET,
# PAVOSET_WIN_BUILD (the build folder whose executables run here) and PAVOSET_WINE_WHY.
# PAVOSET_WINE_ARCH set by the caller forces the choice; `wine_choose again` decides anew
# (after Wine was installed, say) unless it was forced; `wine_choose win64` (or win32) forces
# one path for the rest of the caller's shell.
wine_choose() {
    case "${1:-}" in
        again)
            case "${PAVOSET_WINE_WHY:-}" in forced*) ;; *) unset PAVOSET_WINE_ARCH ;; esac
            unset PAVOSET_WINE_DECIDED PAVOSET_WIN_BUILD ;;
        win32|win64)
            PAVOSET_WINE_ARCH=$1
            unset PAVOSET_WINE_DECIDED PAVOSET_WIN_BUILD ;;
    esac
    if [ -z "${PAVOSET_WINE_DECIDED:-}" ]; then
        case "${PAVOSET_WINE_ARCH:-}" in
            win32) PAVOSET_WINE_WHY="forced by PAVOSET_WINE_ARCH=win32" ;;
            win64) PAVOSET_WINE_WHY="forced by PAVOSET_WINE_ARCH=win64" ;;
            "")
                if wine32_runs; then
                    PAVOSET_WINE_ARCH=win32
                    PAVOSET_WINE_WHY="this machine runs 32-bit programs"
                elif can_exec_i386; then
                    PAVOSET_WINE_ARCH=win64
                    PAVOSET_WINE_WHY="32-bit programs run here, but the i386 Wine loader does not"
                else
                    PAVOSET_WINE_ARCH=win64
                    PAVOSET_WINE_WHY="this kernel cannot execute 32-bit programs"
                fi ;;
            *) echo "PAVOSET_WINE_ARCH must be win32 or win64" >&2; return 1 ;;
        esac
        export PAVOSET_WINE_ARCH PAVOSET_WINE_WHY PAVOSET_WINE_DECIDED=1
    fi
    if [ "$PAVOSET_WINE_ARCH" = win64 ]; then
        PAVOSET_WIN_PRESET=windows-x64
        wine64_on_path
    else
        # Debian's wine, prefix of Wine's own choosing: with wine64 installed beside it, a new
        # prefix is a 64-bit one that runs the 32-bit program in WoW64, as 64-bit Windows does
        # (System32 is SysWOW64 to it, the package goes to "Program Files (x86)").
        PAVOSET_WIN_PRESET=windows-release
        wine64_off_path
    fi
    PAVOSET_WIN_BUILD=${PAVOSET_WIN_BUILD:-$PAVOSET_ROOT/build/$PAVOSET_WIN_PRESET}
    export PAVOSET_WIN_PRESET PAVOSET_WIN_BUILD
}
wine_choose

wine_prefix_up() {
    # $1: directory to hold the prefix (created). Exports WINEPREFIX and WINE_C.
    local dir=$1
    mkdir -p "$dir"
    export WINEPREFIX="$dir/prefix"
    export WINE_C="$WINEPREFIX/drive_c"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LC_ALL=ko_KR.UTF-8 wineboot -i >/dev/null 2>&1
        # regedit reads version 5 files as UTF-16LE with a byte-order mark.
        { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$PAVOSET_ROOT/tools/wine/fonts.reg"; } > "$dir/fonts.reg"
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
    # Starts a private Xvfb unless DISPLAY already works; exports DISPLAY. Xvfb picks a free
    # display number itself (-displayfd), so parallel runs and stale lock files do not matter.
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local numfile i
    numfile=$(mktemp /tmp/pavoset-xvfb.XXXXXX)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    XVFB_PID=$!
    for i in $(seq 1 100); do
        if [ -s "$numfile" ]; then
            export DISPLAY=":$(tr -dc 0-9 <"$numfile")"
            if xdpyinfo >/dev/null 2>&1; then rm -f "$numfile"; return 0; fi
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$numfile"
    kill "$XVFB_PID" 2>/dev/null; XVFB_PID=
    echo "could not start Xvfb" >&2
    return 1
}

xvfb_down() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; XVFB_PID=; fi
    return 0
}
