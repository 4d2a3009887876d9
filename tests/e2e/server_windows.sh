#!/usr/bin/env bash
# pavoset-server.exe (the 64-bit Windows build) under wine64 on loopback: the server's own
# protocol tests driven from Linux against it, the Windows client's server group against it,
# and the Windows service through Wine's service manager: install, start, serve, stop,
# uninstall. Prints "PASS name" / "FAIL name".
#
# Uses build/windows-x64 (PAVOSET_SERVER_WIN_BUILD overrides) and build/native-debug for the
# protocol tests. Where the suite runs Windows code as 32-bit, it uses the 64-bit loader and a
# 64-bit prefix of its own.
set -u
PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$PAVOSET_ROOT/tools/wine/env.sh"
wine_choose || exit 1
export LC_ALL=ko_KR.UTF-8

WIN_BUILD=${PAVOSET_SERVER_WIN_BUILD:-$PAVOSET_ROOT/build/windows-x64}
NATIVE_BUILD=${PAVOSET_SERVER_NATIVE_BUILD:-$PAVOSET_ROOT/build/native-debug}
EXE="$WIN_BUILD/server/pavoset-server.exe"
PROTOCOL_TESTS="$NATIVE_BUILD/tests/server/server_tests"
NATIVE_SERVER="$NATIVE_BUILD/server/pavoset-server"
SERVICE=PavosetServer
FAILED=0

log() { printf '  %s\n' "$*"; }
result() {  # name ok(0|1)
    if [ "$2" = 0 ]; then echo "PASS $1"; else echo "FAIL $1"; FAILED=1; fi
}

if [ "$PAVOSET_WINE_ARCH" != win64 ]; then
    if [ ! -x /usr/lib/wine/wine64 ]; then
        log "no 64-bit Wine here; the 64-bit server is not tested ($PAVOSET_WINE_WHY)"
        exit 0
    fi
    # The suite runs Windows code as 32-bit in a prefix of its own; the 64-bit server and
    # client tests need a 64-bit one (./run test makes it for the 64-bit unit tests).
    wine_choose win64
    unset WINEPREFIX
    [ -n "${PAVOSET_WINEPREFIX_win64:-}" ] && export WINEPREFIX=$PAVOSET_WINEPREFIX_win64
fi
missing=
for f in "$EXE" "$PROTOCOL_TESTS" "$NATIVE_SERVER"; do [ -f "$f" ] || missing+=" $f"; done
if [ -n "$missing" ]; then
    echo "FAIL server-windows-setup"
    log "not built:$missing"
    exit 1
fi

OWN_SCRATCH=
if [ -z "${PAVOSET_SCRATCH:-}" ]; then
    PAVOSET_SCRATCH=$(mktemp -d /tmp/pavoset-e2e.XXXXXX)
    OWN_SCRATCH=$PAVOSET_SCRATCH
fi
DIR="$PAVOSET_SCRATCH/e2e-server_windows"
rm -rf "$DIR"
mkdir -p "$DIR"
# The client's install tests fill a list view: they need a display.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    unset DISPLAY
    xvfb_up || { echo "FAIL server-windows-setup"; log "no X display"; exit 1; }
fi
OWN_PREFIX=
if [ -z "${WINEPREFIX:-}" ]; then
    wine_prefix_up "$PAVOSET_SCRATCH"
    OWN_PREFIX=1
fi
export WINEPREFIX
PIDS=()
SERVICE_INSTALLED=
teardown() {
    if [ -n "$SERVICE_INSTALLED" ]; then
        wine "$EXE" --uninstall-service >/dev/null 2>&1
    fi
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    if [ -n "$OWN_PREFIX" ]; then wine_prefix_down; fi
    xvfb_down
    if [ -n "$OWN_SCRATCH" ]; then rm -rf "$OWN_SCRATCH"; fi
}
trap teardown EXIT

win_path() { printf 'Z:%s' "${1//\//\\}"; }

# wait_port_file FILE SECONDS: true once FILE holds both port lines.
port_file_ready() { [ "$(grep -c '^\(text\|file\) [0-9]' "$1" 2>/dev/null)" = 2 ]; }
wait_port_file() {
    local i
    for i in $(seq 1 $(($2 * 10))); do
        port_file_ready "$1" && return 0
        sleep 0.1
    done
    return 1
}
port_of() { awk -v k="$2" '$1 == k { print $2 }' "$1"; }

# The text catalogue answer from a server on PORT (empty when none answers).
catalogue() {
    python3 - "$1" <<'PY'
import socket, sys
try:
    s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), 5)
    s.settimeout(5)
    s.sendall(b"#REQ:UPDATELIST\0")
    print(s.recv(2048).split(b"\0")[0].decode("cp949", "replace"))
except OSError:
    pass
PY
}

# ------------------------------------------------------------------ the program itself
log "server: $EXE"
ok=1
file -b "$EXE" | grep -q '^PE32+ executable (console) x86-64' && ok=0
result "exe is a 64-bit console program" "$ok"
# Only the system's own libraries: no C++ runtime, threads or Asio DLL to ship beside it.
dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
log "imports: $(echo $dlls)"
foreign=$(grep -vxE 'kernel32.dll|advapi32.dll|ws2_32.dll|mswsock.dll|shell32.dll|user32.dll|msvcrt.dll' <<<"$dlls")
[ -n "$dlls" ] && [ -z "$foreign" ]
result "exe needs only system DLLs${foreign:+ (not: $(echo $foreign))}" $?

# The sample library written by the Windows build is the Linux one, byte for byte and time.
"$NATIVE_SERVER" --make-sample "$DIR/sample-linux" >/dev/null 2>&1
(cd "$DIR" && wine "$EXE" --make-sample "$(win_path "$DIR/sample")") >"$DIR/make-sample.log" 2>&1
same_tree() { (cd "$1" && for f in *; do printf '%s %s %s\n' "$f" "$(md5sum <"$f")" "$(stat -c %y "$f")"; done); }
[ -n "$(ls "$DIR/sample" 2>/dev/null)" ] && [ "$(same_tree "$DIR/sample")" = "$(same_tree "$DIR/sample-linux")" ]
result "make-sample under Windows equals Linux" $?

# The catalogue of a library with a Korean name is the Linux server's, byte for byte (code page
# 949 names, order, file times); a name without a code page 949 form is refused at start.
# start_both ROOT: starts both servers; sets LINUX_PORT, WIN_PORT (empty when one did not start).
start_both() {
    local root=$1 tag
    tag=$(basename "$root")
    rm -f "$DIR/$tag-linux-ports" "$DIR/$tag-win-ports"
    "$NATIVE_SERVER" --root "$root" --port 0 --file-port 0 --port-file "$DIR/$tag-linux-ports" \
        >"$DIR/$tag-linux.log" 2>&1 &
    PIDS+=($!)
    wine "$EXE" --root "$(win_path "$root")" --port 0 --file-port 0 --port-file "$(win_path "$DIR/$tag-win-ports")" \
        >"$DIR/$tag-win.log" 2>&1 &
    PIDS+=($!)
    WIN_PID=$!
    LINUX_PORT=; WIN_PORT=
    wait_port_file "$DIR/$tag-linux-ports" 10 && LINUX_PORT=$(port_of "$DIR/$tag-linux-ports" text)
    # A refused library ends the Windows server: stop waiting then. Under a loaded suite Wine
    # may take a while to start it.
    local i
    for i in $(seq 1 600); do
        port_file_ready "$DIR/$tag-win-ports" && { WIN_PORT=$(port_of "$DIR/$tag-win-ports" text); break; }
        kill -0 "$WIN_PID" 2>/dev/null || break
        sleep 0.1
    done
}
# The folder's own Korean name checks that the command line reaches the server intact.
KOREAN="$DIR/한국어"
mkdir -p "$KOREAN" "$DIR/no-cp949"
cp -p "$DIR/sample-linux/Kickoff.xls" "$KOREAN/엑셀도구.xls"
cp -p "$DIR/sample-linux/PlimoSetup.ini" "$DIR/sample-linux/Stickrow.dll" "$KOREAN/"
start_both "$KOREAN"
linux_answer=$([ -n "$LINUX_PORT" ] && catalogue "$LINUX_PORT")
win_answer=$([ -n "$WIN_PORT" ] && catalogue "$WIN_PORT")
log "catalogue: ${win_answer:0:70}"
[ -n "$win_answer" ] || log "Windows server (port ${WIN_PORT:-none}): $(head -c 300 "$DIR/한국어-win.log" 2>/dev/null)"
[ -n "$linux_answer" ] && [ "$linux_answer" = "$win_answer" ] && [[ "$win_answer" == *"엑셀도구.xls"* ]]
result "catalogue with a Korean name equals the Linux server's" $?
cp -p "$DIR/sample-linux/Kickoff.xls" "$DIR/no-cp949/Ünï€🙂.xls"
start_both "$DIR/no-cp949"
wait "$WIN_PID" 2>/dev/null
rc=$?
[ -z "$WIN_PORT" ] && [ "$rc" = 1 ] && grep -q 'no code page 949 form' "$DIR/no-cp949-win.log"
result "name without a code page 949 form refused at start" $?

# ------------------------------------------------------------------ the server's protocol tests
log "protocol tests against the exe (each test starts it under Wine)"
PAVOSET_TEST_SERVER_CMD="wine $EXE" PAVOSET_TEST_SERVER_PATH_PREFIX=Z: \
    timeout 900 "$PROTOCOL_TESTS" --gtest_color=no \
    --gtest_filter='text_fixture.*:answer_wait_ack.*:datagram_fixture.*:file_fixture.*:robust_fixture.*:AnnouncePort.*' \
    >"$DIR/protocol-tests.log" 2>&1
rc=$?
grep -E '^\[  (FAILED|PASSED) ' "$DIR/protocol-tests.log" | head -n 30 | sed 's/^/  /'
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$DIR/protocol-tests.log")
[ "$rc" = 0 ] && [ "${passed:-0}" -gt 20 ]
result "protocol tests against pavoset-server.exe (${passed:-0} passed)" $?

# ------------------------------------------------------------------ a console server for the client
# It also keeps the Wine session up, so the service below lives until it is stopped.
rm -f "$DIR/console-ports"
wine "$EXE" --root "$(win_path "$DIR/sample")" --port 0 --file-port 0 \
    --port-file "$(win_path "$DIR/console-ports")" --log-level debug >"$DIR/console.log" 2>&1 &
CONSOLE_PID=$!
PIDS+=("$CONSOLE_PID")
if wait_port_file "$DIR/console-ports" 60; then
    export PAVOSET_SERVER_PORT PAVOSET_SERVER_FILE_PORT PAVOSET_SAMPLE_DIR
    PAVOSET_SERVER_PORT=$(port_of "$DIR/console-ports" text)
    PAVOSET_SERVER_FILE_PORT=$(port_of "$DIR/console-ports" file)
    PAVOSET_SAMPLE_DIR=$(win_path "$DIR/sample")
    for exe in net/net_tests.exe catalogue/catalogue_tests.exe; do
        name=$(basename "$exe" .exe)
        if [ ! -f "$WIN_BUILD/tests/win/$exe" ]; then
            result "client $name server group (not built)" 1
            continue
        fi
        (cd "$WIN_BUILD/tests/win/$(dirname "$exe")" && timeout 600 wine "$(basename "$exe")" --gtest_color=no \
            --gtest_filter='AgainstServer.*') >"$DIR/client-$name.log" 2>&1
        rc=$?
        passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$DIR/client-$name.log")
        skipped=$(grep -c '^\[  SKIPPED \]' "$DIR/client-$name.log")
        [ "$rc" = 0 ] && [ "${passed:-0}" -gt 0 ] && [ "$skipped" = 0 ]
        ok=$?
        [ "$ok" = 0 ] || tail -n 20 "$DIR/client-$name.log" | sed 's/^/    /'
        result "client $name server group against the exe (${passed:-0} passed)" "$ok"
    done
    unset PAVOSET_SERVER_PORT PAVOSET_SERVER_FILE_PORT PAVOSET_SAMPLE_DIR
else
    result "console server starts" 1
    tail -n 5 "$DIR/console.log" | sed 's/^/    /'
fi

# ------------------------------------------------------------------ the Windows service
SVC_PORTS="$DIR/service-ports"
SVC_LOG="$DIR/service.log"
# A blank and Korean letters in the root: the stored command must quote and keep them.
SVC_ROOT="$DIR/서버 폴더"
cp -rp "$DIR/sample" "$SVC_ROOT"
wine "$EXE" --install-service --root "$(win_path "$SVC_ROOT")" --port 0 --file-port 0 \
    --port-file "$(win_path "$SVC_PORTS")" --log-file "$(win_path "$SVC_LOG")" >"$DIR/install.log" 2>&1
rc=$?
[ "$rc" = 0 ] && SERVICE_INSTALLED=1
start_type=$(wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$SERVICE" /v Start 2>/dev/null | tr -d '\r' |
             awk '$1 == "Start" { print $3 }')
# reg prints in the ANSI code page (949 here).
image=$(wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$SERVICE" /v ImagePath 2>/dev/null | tr -d '\r' |
        iconv -f CP949 -t UTF-8 -c)
log "service command: $(sed -n 's/.*REG_EXPAND_SZ\s*//p; s/.*REG_SZ\s*//p' <<<"$image")"
[ "$rc" = 0 ] && [ "$start_type" = 0x2 ] && grep -qF -- "--service --root \"$(win_path "$SVC_ROOT")\"" <<<"$image"
result "service installed, automatic start, options stored" $?

rm -f "$SVC_PORTS"
wine net start "$SERVICE" >"$DIR/net-start.log" 2>&1
state=$(wine sc query "$SERVICE" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }')
wait_port_file "$SVC_PORTS" 30
port=$(port_of "$SVC_PORTS" text 2>/dev/null)
answer=$([ -n "$port" ] && catalogue "$port")
log "service state: $state, catalogue: ${answer:0:60}"
[ "$state" = RUNNING ] && [[ "$answer" == "#EXL: OK:"*"Stickrow64.dll"* ]]
result "service started by the service manager serves the library" $?

wine net stop "$SERVICE" >"$DIR/net-stop.log" 2>&1
rc=$?
state=$(wine sc query "$SERVICE" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }')
[ "$rc" = 0 ] && [ "$state" = STOPPED ] && grep -q 'stopped after 1 text' "$SVC_LOG" &&
    grep -q 'service stopped (status 0)' "$SVC_LOG" && [ -z "$(catalogue "$port")" ]
ok=$?
[ "$ok" = 0 ] || { log "state $state; log:"; sed 's/^/    /' "$SVC_LOG" 2>/dev/null; }
result "service stops cleanly on the manager's request, logging to its file" "$ok"

wine "$EXE" --uninstall-service >"$DIR/uninstall.log" 2>&1
rc=$?
wine sc query "$SERVICE" >/dev/null 2>&1
gone=$?
[ "$rc" = 0 ] && [ "$gone" != 0 ] && SERVICE_INSTALLED=
[ "$rc" = 0 ] && [ "$gone" != 0 ]
result "service uninstalled" $?

# ------------------------------------------------------------------ Ctrl+C in the console
# Wine hands SIGINT to a console program as Ctrl+C.
kill -INT "$CONSOLE_PID" 2>/dev/null
for _ in $(seq 1 50); do kill -0 "$CONSOLE_PID" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$CONSOLE_PID" 2>/dev/null; then
    result "console server stops on Ctrl+C" 1
else
    wait "$CONSOLE_PID"
    rc=$?
    [ "$rc" = 0 ] && grep -q 'console event 0: shutting down' "$DIR/console.log" &&
        grep -q 'stopped after' "$DIR/console.log"
    result "console server stops on Ctrl+C, closing every socket, status 0" $?
fi

exit "$FAILED"
