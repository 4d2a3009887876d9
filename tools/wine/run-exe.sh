#!/usr/bin/env bash
# ctest's emulator for the Windows executables: runs one under the Wine loader that fits it
# (PE32 under the i386 loader, PE32+ under the 64-bit one), in code page 949, in the prefix and
# display that ./run test set up. Run by hand (ctest --preset ...), it makes a prefix of its own
# under build/ and a private Xvfb for the one run.
exe=$1
shift
case "$(file -b "$exe" 2>/dev/null)" in
    PE32+*) export PAVOSET_WINE_ARCH=win64 ;;
    PE32*) export PAVOSET_WINE_ARCH=win32 ;;
    *) echo "run-exe.sh: not a Windows executable: $exe" >&2; exit 2 ;;
esac
unset PAVOSET_WINE_DECIDED PAVOSET_WIN_BUILD
# The server fixture's ports and folders (tests/win/server_fixture.sh), for the tests that need it.
if [ -n "${PAVOSET_SERVER_FIXTURE:-}" ]; then
    # shellcheck disable=SC1090
    . "$PAVOSET_SERVER_FIXTURE" || { echo "run-exe.sh: no server fixture ($PAVOSET_SERVER_FIXTURE)" >&2; exit 2; }
fi
# shellcheck source=env.sh
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"

# A 32-bit prefix cannot start a 64-bit program: use the suite's prefix for this architecture.
prefix_var=PAVOSET_WINEPREFIX_$PAVOSET_WINE_ARCH
if [ -n "${!prefix_var:-}" ]; then
    export WINEPREFIX=${!prefix_var}
elif [ -z "${WINEPREFIX:-}" ] || ! grep -q "^#arch=$PAVOSET_WINE_ARCH" "$WINEPREFIX/system.reg" 2>/dev/null; then
    wine_prefix_up "$PAVOSET_ROOT/build/wine-$PAVOSET_WINE_ARCH"
fi
own_display=
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    unset DISPLAY
    xvfb_up || exit 1
    own_display=1
fi
# Wine's own processes (wineserver, services, explorer) outlive the program and would inherit
# ctest's output pipe, holding it open; so the output goes through a file of our own.
out=$(mktemp "${TMPDIR:-/tmp}/pavoset-run-exe.XXXXXX")
LC_ALL=ko_KR.UTF-8 wine "$exe" "$@" </dev/null >"$out" 2>&1
rc=$?
# Once in a few hundred starts Wine fails a program before it runs at all: no output, an error
# status. A program that ran always says something (a test program its first line), so only
# that case gets one more start, and says so.
if [ $rc -ne 0 ] && [ ! -s "$out" ]; then
    echo "run-exe.sh: Wine ended $(basename "$exe") with status $rc before it printed anything; starting it once more"
    LC_ALL=ko_KR.UTF-8 wine "$exe" "$@" </dev/null >"$out" 2>&1
    rc=$?
fi
cat "$out"
rm -f "$out"
if [ -n "$own_display" ]; then
    wineserver -w 2>/dev/null    # its windows go before their display does
    xvfb_down
fi
exit $rc
