#!/usr/bin/env bash
# The demo: the reference update server on 127.0.0.1 with the sample library, and
# Pavoset.exe under Wine installing it.
#
#   tools/demo.sh [--auto|--interactive] [--signed|--https]
#
# --auto (the default when there is no working display) presses Download, prints the
# rows before and after, the ledger and a screenshot's path, answers the closing question
# and stops everything it started. --interactive (the default on a working display)
# leaves the window to the user and cleans up when it is closed. --signed makes a publisher
# key, signs the library with it and gives the program the key (PublisherKey in Offline.INI),
# so the files install only after the signature verifies. --https publishes the signed sample
# the web way instead: exported (pavoset-server --export) into a folder that nginx serves over
# HTTPS on 127.0.0.1 with a test CA, trusted only inside the demo's Wine prefix; the program
# gets its address (URL= in Offline.INI) and the key.
#
# Expects the builds that `./run demo` makes (the Windows one chosen by tools/wine/env.sh);
# PAVOSET_SERVER_BIN and PAVOSET_WIN_BUILD point at other builds when set.
set -u
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SERVER_BIN=${PAVOSET_SERVER_BIN:-$PAVOSET_ROOT/build/native-release/server/pavoset-server}
# shellcheck source=wine/env.sh
. "$PAVOSET_ROOT/tools/wine/env.sh"
# shellcheck source=../tests/e2e/texts.sh
. "$PAVOSET_ROOT/tests/e2e/texts.sh"  # the control ids uiauto drives
# shellcheck source=ports.sh
. "$PAVOSET_ROOT/tools/ports.sh"
# shellcheck source=web_library.sh
. "$PAVOSET_ROOT/tools/web_library.sh"
WIN_BUILD=$PAVOSET_WIN_BUILD
PROGRAM=$WIN_BUILD/app/Pavoset.exe
UIAUTO=$WIN_BUILD/tools/uiauto.exe
EXCEL_STANDIN=$WIN_BUILD/tools/Excel.exe
ARTIFACTS=${PAVOSET_ARTIFACTS:-$PAVOSET_ROOT/artifacts}

say() { printf '%s\n' "$*"; }
note() { printf '== %s\n' "$*" >&2; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

MODE=
SIGNED=0
HTTPS=0
for arg in "$@"; do
    case "$arg" in
        --auto) MODE=auto ;;
        --interactive) MODE=interactive ;;
        --signed) SIGNED=1 ;;
        --https) SIGNED=1; HTTPS=1 ;;
        -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown option $arg (try --help)" ;;
    esac
done

[ -x "$SERVER_BIN" ] || die "no server at $SERVER_BIN (run ./run demo, which builds it)"
[ -f "$PROGRAM" ] || die "no program at $PROGRAM (run ./run demo, which builds it)"
note "Windows code: $PAVOSET_WIN_PRESET build under ${WINELOADER:-wine} ($PAVOSET_WINE_WHY)"

WORK=$(mktemp -d /tmp/pavoset-demo.XXXXXX)
SERVER_PID=
APP_PID=
cleanup() {
    local status=$?
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill "$APP_PID" 2>/dev/null
        wait "$APP_PID" 2>/dev/null
    fi
    wine_prefix_down
    web_library_down
    if [ -n "$SERVER_PID" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
        kill "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
    fi
    xvfb_down
    [ -f "$WORK/server.log" ] && cp "$WORK/server.log" "$ARTIFACTS/demo-server.log" 2>/dev/null
    rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$ARTIFACTS"

# ---------------------------------------------------------------- display
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    [ -n "$MODE" ] || MODE=interactive
    note "using display $DISPLAY"
else
    if [ "$MODE" = interactive ]; then
        note "no working display: running --auto instead"
    fi
    MODE=auto
    unset DISPLAY
    xvfb_up || die "could not start Xvfb"
    note "using a private Xvfb on $DISPLAY"
fi

# ---------------------------------------------------------------- server
note "making the sample library"
"$SERVER_BIN" --make-sample "$WORK/library" >/dev/null || die "the server could not make the sample library"
PUBLISHER_KEY=
if [ $SIGNED = 1 ]; then
    # Offline, as a publisher would: the key stays beside the demo, never in the library.
    PUBLISHER_KEY=$("$SERVER_BIN" --make-key "$WORK/publisher.pem") || die "could not make a signing key"
    "$SERVER_BIN" --sign "$WORK/library" --key "$WORK/publisher.pem" --expires-days 30 ||
        die "could not sign the library"
    say "signed: public key $PUBLISHER_KEY"
fi

port_in_use() {  # TCP or UDP
    ss -Hltun 2>/dev/null | awk '{print $5}' | grep -qE "[:.]$1\$"
}

start_server() {  # $1: port (0 = any)
    rm -f "$WORK/ports"
    "$SERVER_BIN" --root "$WORK/library" --bind 127.0.0.1 --port "$1" --file-port 0 \
        --port-file "$WORK/ports" >>"$WORK/server.log" 2>&1 &
    SERVER_PID=$!
    local i
    for i in $(seq 1 50); do
        if grep -q '^text ' "$WORK/ports" 2>/dev/null; then return 0; fi
        kill -0 "$SERVER_PID" 2>/dev/null || { wait "$SERVER_PID" 2>/dev/null; SERVER_PID=; return 1; }
        sleep 0.1
    done
    kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null; SERVER_PID=
    return 1
}

if [ $HTTPS = 1 ]; then
    command -v nginx >/dev/null && command -v openssl >/dev/null || die "--https needs nginx and openssl (./run demo installs them)"
    "$SERVER_BIN" --export "$WORK/library" "$WORK/web" --key "$WORK/publisher.pem" --expires-days 30 ||
        die "could not export the library"
    make_test_ca "$WORK/tls" || { cat "$WORK/tls/openssl.log" >&2; die "could not make the test CA"; }
    PORT=$(free_port) || die "no free port"
    start_static_nginx "$WORK/tls" "$WORK/web" "$PORT" https || die "nginx did not start"
    LIBRARY_URL="https://localhost:$PORT/"
    say "web server: nginx on $LIBRARY_URL (packaging/nginx-pavoset.conf), serving $(ls "$WORK/web/files" | wc -l) files, pid $NGINX_PID"
else
    if port_in_use 5757 || ! start_server 5757; then
        note "port 5757 is taken; letting the server choose a free port"
        start_server 0 || { tail -n 20 "$WORK/server.log" >&2; die "the server did not start"; }
    fi
    PORT=$(awk '$1 == "text" {print $2}' "$WORK/ports")
    FILE_PORT=$(awk '$1 == "file" {print $2}' "$WORK/ports")
    say "server: pavoset-server on 127.0.0.1 port $PORT (file service $FILE_PORT), pid $SERVER_PID"
fi

# ---------------------------------------------------------------- Wine
note "preparing a throwaway Wine prefix (the first start takes a little while)"
wine_prefix_up "$WORK" || die "could not prepare the Wine prefix"
if [ -n "$XVFB_PID" ]; then
    # No window manager on a private Xvfb: Wine draws the title bars itself.
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n' \
        >"$WORK/decorated.reg"
    wine regedit /S "$(winepath -w "$WORK/decorated.reg" 2>/dev/null)" >/dev/null 2>&1
fi
HAVE_EXCEL=0
if [ -f "$EXCEL_STANDIN" ]; then
    # A stand-in that only records how it was started, so the closing question can be
    # answered Yes without a real spreadsheet program.
    cp "$EXCEL_STANDIN" "$WINE_C/windows/Excel.exe" && HAVE_EXCEL=1
fi

mkdir -p "$WORK/run"
cp "$PROGRAM" "$WORK/run/Pavoset.exe"
if [ $HTTPS = 1 ]; then
    printf '[SERVER]\r\nURL=%s\r\n' "$LIBRARY_URL" >"$WORK/run/Offline.INI"
    trust_test_ca "$WORK/tls/ca.pem" || die "could not trust the test CA in the demo's prefix"
    say "test CA trusted in the demo's Wine prefix only"
else
    printf '[SERVER]\r\nIP=127.0.0.1\r\nPORT=%s\r\n' "$PORT" >"$WORK/run/Offline.INI"
fi
[ -n "$PUBLISHER_KEY" ] && printf 'PublisherKey=%s\r\n' "$PUBLISHER_KEY" >>"$WORK/run/Offline.INI"

note "starting Pavoset.exe"
(cd "$WORK/run" && LC_ALL=ko_KR.UTF-8 exec wine Pavoset.exe >"$WORK/pavoset.log" 2>&1) &
APP_PID=$!

if [ "$MODE" = interactive ]; then
    say "Pavoset.exe is running on $DISPLAY: press 다운로드 to install; close the window to end the demo."
    wait "$APP_PID"
    APP_PID=
    if [ -f "$WINE_C/$INSTALL_FOLDER_IN_DRIVE_C/EXCELLIBINFO.DAT" ]; then
        say "ledger $INSTALL_FOLDER_TEXT\\EXCELLIBINFO.DAT:"
        iconv -f CP949 -t UTF-8 "$WINE_C/$INSTALL_FOLDER_IN_DRIVE_C/EXCELLIBINFO.DAT" | tr -d '\r' | sed 's/^/  /'
    else
        say "nothing was installed (no ledger)"
    fi
    exit 0
fi

# ---------------------------------------------------------------- driving it
[ -f "$UIAUTO" ] || die "no UI driver at $UIAUTO (built with the Windows build)"
ui() {  # uiauto in the same prefix; UTF-8 out, without carriage returns
    LC_ALL=ko_KR.UTF-8 wine "$UIAUTO" "$@" 2>>"$WORK/uiauto.log" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
print_rows() {
    ui rows | awk -F'\t' '{ printf "  %-3s %-18s %-11s %-9s %-9s %s\n", $1, $2, $3, $4, $5, $6 }'
}
screenshot() {  # $1: file; the main window cut from the whole screen, as it is seen
    local id geometry
    id=$(xdotool search --onlyvisible --name 'Excel Library' 2>/dev/null | head -n 1)
    import -display "$DISPLAY" -window root "$1" 2>/dev/null || return 1
    [ -n "$id" ] || return 0
    geometry=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null) || return 0
    local X Y WIDTH HEIGHT
    eval "$(printf '%s\n' "$geometry" | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')"
    [ -n "${WIDTH:-}" ] && convert "$1" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1" 2>/dev/null
    return 0
}

say "window: $(ui --timeout 30000 wait-window)" || die "the main window did not appear"
if ! ui --timeout 30000 wait-rows 1; then
    box=$(ui --timeout 0 wait-msgbox)
    [ -n "$box" ] && say "message box: $(printf '%s' "$box" | tr '\n' ' ')"
    die "no catalogue arrived from the server"
fi
say "rows before Download (순서, 파일, CRC, 크기, 현재 크기, 상태):"
print_rows
if [ $SIGNED = 1 ]; then
    ui --timeout 20000 wait-text "$ID_MESSAGE_LINE" '서명' >/dev/null
    say "message line: $(ui text "$ID_MESSAGE_LINE")"
fi
BEFORE_MESSAGE=$(ui text "$ID_MESSAGE_LINE")

note "pressing 다운로드"
ui click "$ID_DOWNLOAD_BUTTON" || die "the Download button could not be pressed"
finished=0
for _ in $(seq 1 240); do
    sleep 0.5
    box=$(ui --timeout 0 wait-msgbox 2>/dev/null)
    if [ -n "$box" ]; then
        say "message box: $(printf '%s' "$box" | tr '\n' ' ')"
        ui --timeout 0 answer-msgbox ok >/dev/null
    fi
    if [ "$(ui enabled "$ID_DOWNLOAD_BUTTON")" = 1 ] && [ "$(ui text "$ID_MESSAGE_LINE")" != "$BEFORE_MESSAGE" ]; then
        finished=1
        break
    fi
done
[ $finished = 1 ] || die "the installation did not finish in two minutes"

say "rows after Download:"
print_rows
say "message line: $(ui text "$ID_MESSAGE_LINE")"
say "ledger $INSTALL_FOLDER_TEXT\\EXCELLIBINFO.DAT:"
iconv -f CP949 -t UTF-8 "$WINE_C/$INSTALL_FOLDER_IN_DRIVE_C/EXCELLIBINFO.DAT" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
say "install folder:"
ls -l --time-style=+'%Y-%m-%d %H:%M' "$WINE_C/$INSTALL_FOLDER_IN_DRIVE_C" | tail -n +2 | sed 's/^/  /'
SHOT="$ARTIFACTS/demo-main-window.png"
screenshot "$SHOT" && say "screenshot: $SHOT"

note "closing the window"
ui close
question=$(ui --timeout 10000 wait-msgbox)
if [ -n "$question" ]; then
    say "closing question: $(printf '%s' "$question" | tr '\n' ' ')"
    if [ $HAVE_EXCEL = 1 ]; then
        ui answer-msgbox yes >/dev/null && say "answered: 예 (Yes)"
    else
        ui answer-msgbox no >/dev/null && say "answered: 아니오 (No; no Excel stand-in was built)"
    fi
fi
ui --timeout 20000 wait-gone || die "the main window did not close"
wait "$APP_PID"
say "Pavoset.exe exit code: $?"
APP_PID=
if [ $HAVE_EXCEL = 1 ] && [ -n "$question" ]; then
    for _ in $(seq 1 50); do
        [ -s "$WINE_C/excel-args.txt" ] && break
        sleep 0.1
    done
    [ -s "$WINE_C/excel-args.txt" ] && say "Excel was started as: $(tr -d '\r' <"$WINE_C/excel-args.txt")"
fi
say "demo finished"
