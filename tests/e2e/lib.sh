# Shared by the end-to-end scripts: finds the binaries, prepares Wine, runs pavoset-server on
# loopback, drives Pavoset.exe through tools/uiauto.exe and reports "PASS name" / "FAIL name".
#
# ./run test exports WINEPREFIX, DISPLAY, PAVOSET_SCRATCH and PAVOSET_ARTIFACTS; run alone, a
# script makes its own prefix, Xvfb display and scratch folder and removes them at the end.
# PAVOSET_E2E_WIN_BUILD / PAVOSET_E2E_SERVER override which builds are used.

# Sourced only; run directly it does nothing.
[ "${BASH_SOURCE[0]}" = "$0" ] && exit 0

PAVOSET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../../tools/wine/env.sh
. "$PAVOSET_ROOT/tools/wine/env.sh"
# shellcheck source=../../tools/ports.sh
. "$PAVOSET_ROOT/tools/ports.sh"

# shellcheck source=texts.sh
. "$PAVOSET_ROOT/tests/e2e/texts.sh"
SERVER_KEY="HKCU\\$(header_text settings/registry_store.h SETTINGS_KEY)"
INSTALL_KEY=${SERVER_KEY%\\*\\*}  # the program's own key, two levels up
# The message line as the dialog resource sets it (a resource text, so not in res/texts.h).
INITIAL_MESSAGE=$(sed -n 's/^ *CONTROL "\(.*\)", ID_MESSAGE_LINE,.*/\1/p' "$PAVOSET_ROOT/res/pavoset.rc")
INITIAL_MESSAGE=${INITIAL_MESSAGE//\"\"/\"}

E2E_FAILED=0
E2E_OWN_PREFIX=
E2E_OWN_SCRATCH=
E2E_PIDS=()          # servers and relays, stopped at exit
PAVOSET_PID=
E2E_PORTS_GIVEN=()   # handed out by next_port

e2e_log() { printf '  %s\n' "$*"; }

# ---------------------------------------------------------------- binaries
# Exactly the builds the suite chose (tools/wine/env.sh): never "the newest binary found".
find_windows_binary() {  # name
    local dir=${PAVOSET_E2E_WIN_BUILD:-$PAVOSET_WIN_BUILD} found
    [ -d "$dir" ] || return 0
    found=$(find "$dir" -name "$1" -type f -not -path '*/CMakeFiles/*' 2>/dev/null | head -n 1)
    printf '%s' "$found"
}

find_server_binary() {
    local candidate
    for candidate in "${PAVOSET_E2E_SERVER:-}" "$PAVOSET_ROOT/build/native-debug/server/pavoset-server" \
                     "$PAVOSET_ROOT/build/native-release/server/pavoset-server"; do
        [ -n "$candidate" ] && [ -x "$candidate" ] && { printf '%s' "$candidate"; return 0; }
    done
}

# ---------------------------------------------------------------- set-up and tear-down
e2e_setup() {
    export LC_ALL=ko_KR.UTF-8
    if [ -z "${PAVOSET_SCRATCH:-}" ]; then
        PAVOSET_SCRATCH=$(mktemp -d /tmp/pavoset-e2e.XXXXXX)
        E2E_OWN_SCRATCH=$PAVOSET_SCRATCH
    fi
    export PAVOSET_SCRATCH
    export PAVOSET_ARTIFACTS=${PAVOSET_ARTIFACTS:-$PAVOSET_ROOT/artifacts}
    mkdir -p "$PAVOSET_ARTIFACTS"
    E2E_DIR="$PAVOSET_SCRATCH/e2e-$(basename "$0" .sh)"
    rm -rf "$E2E_DIR"
    mkdir -p "$E2E_DIR"
    trap e2e_teardown EXIT

    SERVER_BIN=$(find_server_binary)
    PAVOSET_BIN=$(find_windows_binary Pavoset.exe)
    UIAUTO_BIN=$(find_windows_binary uiauto.exe)
    EXCEL_BIN=$(find_windows_binary Excel.exe)
    HOLDFILE_BIN=$(find_windows_binary holdfile.exe)
    local missing=
    [ -n "$SERVER_BIN" ] || missing+=" pavoset-server"
    [ -n "$PAVOSET_BIN" ] || missing+=" Pavoset.exe"
    [ -n "$UIAUTO_BIN" ] || missing+=" uiauto.exe"
    [ -n "$EXCEL_BIN" ] || missing+=" Excel.exe"
    [ -n "$HOLDFILE_BIN" ] || missing+=" holdfile.exe"
    if [ -n "$missing" ]; then
        echo "FAIL $(basename "$0" .sh)-setup"
        e2e_log "not built:$missing"
        E2E_FAILED=1
        return 1
    fi

    if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
        unset DISPLAY
        xvfb_up || { echo "FAIL $(basename "$0" .sh)-setup"; e2e_log "no X display"; return 1; }
    fi
    if [ -z "${WINEPREFIX:-}" ]; then
        wine_prefix_up "$PAVOSET_SCRATCH"
        E2E_OWN_PREFIX=1
    fi
    export WINEPREFIX
    WINE_C="$WINEPREFIX/drive_c"
    INSTALL_DIR="$WINE_C/$INSTALL_FOLDER_IN_DRIVE_C"
    EXCEL_LOG="$WINE_C/excel-args.txt"

    # A crash must end the run with a line in the program's output, not wait on a dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

    # The program runs from a folder of its own, so no Offline.INI is found by accident;
    # Excel.exe goes where the shell looks for programs.
    mkdir -p "$E2E_DIR/app"
    cp "$PAVOSET_BIN" "$E2E_DIR/app/Pavoset.exe"
    cp "$EXCEL_BIN" "$WINE_C/windows/Excel.exe"
    unset PAVOSET_EXCEL_LOG
    e2e_log "server:  $SERVER_BIN"
    e2e_log "program: $PAVOSET_BIN"
    return 0
}

e2e_teardown() {
    stop_pavoset >/dev/null 2>&1
    local pid
    for pid in "${E2E_PIDS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${E2E_PIDS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    E2E_PIDS=()
    if [ -n "$E2E_OWN_PREFIX" ]; then wine_prefix_down; fi
    xvfb_down
    if [ -n "$E2E_OWN_SCRATCH" ]; then rm -rf "$E2E_OWN_SCRATCH"; fi
}

# Forgets everything a scenario may have left: the registry key, the install folder and
# the Excel stand-in's record.
reset_state() {
    stop_pavoset
    # Checked, not assumed: a key a script before left behind (a PublisherKey) would change
    # what the next scenario sees.
    local try
    for try in 1 2 3; do
        wine reg delete "$INSTALL_KEY" /f >/dev/null 2>&1
        wine reg query "$INSTALL_KEY" >/dev/null 2>&1 || break
        e2e_log "the program's registry key was still there (try $try)"
        sleep 1
    done
    rm -rf "$INSTALL_DIR" "$EXCEL_LOG" "$E2E_DIR/app/Offline.INI"
}

# ---------------------------------------------------------------- scenarios
SCENARIO=
SCENARIO_OK=1

scenario() {  # name
    SCENARIO=$1
    SCENARIO_OK=1
    reset_state
    PAVOSET_OUT_MARK=$(stat -c %s "$E2E_DIR/pavoset.out" 2>/dev/null || echo 0)
    e2e_log "--- $SCENARIO"
}

check() {  # description command...
    local what=$1
    shift
    if "$@"; then return 0; fi
    SCENARIO_OK=0
    e2e_log "failed: $what"
    return 1
}

scenario_end() {
    screenshot "$SCENARIO"
    if [ "$SCENARIO_OK" != 1 ] && [ -n "$PAVOSET_PID" ] && ua --timeout 200 title >/dev/null 2>&1; then
        e2e_log "message line: $(message_line)"
        e2e_log "rows:"
        rows | sed 's/^/    /'
    fi
    stop_pavoset
    # Wine reports a crash on the program's error output.
    local crash
    crash=$(tail -c +$((PAVOSET_OUT_MARK + 1)) "$E2E_DIR/pavoset.out" 2>/dev/null | grep -i -m 3 'unhandled')
    check "no crash${crash:+: $crash}" test -z "$crash"
    if [ "$SCENARIO_OK" = 1 ]; then
        echo "PASS $SCENARIO"
    else
        echo "FAIL $SCENARIO"
        E2E_FAILED=1
    fi
}

setup_failed() {  # what
    echo "FAIL $1"
    E2E_FAILED=1
    exit 1
}

e2e_finish() {
    exit "$E2E_FAILED"
}

screenshot() {  # name
    import -window root "$PAVOSET_ARTIFACTS/e2e-$1.png" >/dev/null 2>&1 ||
        e2e_log "no screenshot for $1"
}

# Only the main window, for the documentation.
screenshot_main_window() {  # file
    # The ASCII run of its caption, "Plimo Ver. 15.0" with the built version, as a pattern.
    local id version=${MAIN_TITLE#*Plimo Ver. }
    version=${version%% *}
    id=$(xdotool search --name "Plimo Ver\\. ${version//./\\.}" 2>/dev/null | head -n 1)
    [ -n "$id" ] && import -window "$id" "$1" >/dev/null 2>&1 && return 0
    import -window root "$1" >/dev/null 2>&1
}

# ---------------------------------------------------------------- registry
reg_set() {  # name value
    wine reg add "$SERVER_KEY" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
}

reg_get() {  # name; prints the value, fails when absent
    local out
    out=$(wine reg query "$SERVER_KEY" /v "$1" 2>/dev/null | tr -d '\r') || return 1
    printf '%s\n' "$out" | awk -v name="$1" '$1 == name && $2 ~ /^REG_/ {
        sub(/^[ \t]*[^ \t]+[ \t]+REG_[A-Z_]+[ \t]*/, ""); print; found = 1 } END { exit !found }'
}

reg_absent() {  # name
    local value
    value=$(reg_get "$1") || return 0
    e2e_log "registry $1 = '$value', wanted none"
    return 1
}

reg_is() {  # name expected
    local value
    value=$(reg_get "$1")
    [ "$value" = "$2" ] && return 0
    e2e_log "registry $1 = '${value}', wanted '$2'"
    return 1
}

# ---------------------------------------------------------------- loopback peers
# next_port VAR: a loopback port nothing listens on (tools/ports.sh), other than those this
# script was given already and has not yet bound. Not a $(...) function: the list of given
# ports must survive the call.
next_port() {
    local p
    p=$(free_port "${E2E_PORTS_GIVEN[@]}") || return 1
    E2E_PORTS_GIVEN+=("$p")
    printf -v "$1" '%s' "$p"
}

make_library() {  # dir [file...]: the sample library, or only the named files of it
    local dir=$1
    shift
    local sample="$E2E_DIR/sample"
    if [ ! -d "$sample" ]; then
        "$SERVER_BIN" --make-sample "$sample" >/dev/null 2>&1 || return 1
    fi
    mkdir -p "$dir"
    if [ $# -eq 0 ]; then
        cp -p "$sample"/* "$dir"/
    else
        local f
        for f in "$@"; do cp -p "$sample/$f" "$dir/$f" || return 1; done
    fi
}

# start_server ROOT [PORT [SERVER OPTIONS...]]: PORT may be "" for any free one.
# Sets SERVER_PID, SERVER_PORT, SERVER_FILE_PORT, SERVER_LOG.
start_server() {
    local root=$1 wanted=${2:-} port file_port try
    shift $(($# < 2 ? $# : 2))
    for try in 1 2 3 4 5; do
        if [ -n "$wanted" ]; then port=$wanted; else next_port port; fi
        next_port file_port
        SERVER_LOG="$E2E_DIR/server-$port.log"
        rm -f "$E2E_DIR/ports-$port"
        "$SERVER_BIN" --root "$root" --bind 127.0.0.1 --port "$port" --file-port "$file_port" \
            --port-file "$E2E_DIR/ports-$port" --log-level debug "$@" >"$SERVER_LOG" 2>&1 &
        SERVER_PID=$!
        local i
        for i in $(seq 1 50); do
            [ -s "$E2E_DIR/ports-$port" ] && break
            kill -0 "$SERVER_PID" 2>/dev/null || break
            sleep 0.1
        done
        if [ -s "$E2E_DIR/ports-$port" ]; then
            E2E_PIDS+=("$SERVER_PID")
            SERVER_PORT=$port
            SERVER_FILE_PORT=$file_port
            return 0
        fi
        kill "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
        [ -n "$wanted" ] && break
    done
    e2e_log "pavoset-server did not start: $(tail -n 3 "$SERVER_LOG" 2>/dev/null)"
    return 1
}

stop_pid() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}

# start_relay tcp|udp LISTEN_PORT TARGET_PORT [MODES]: forwards one protocol only, so a scenario
# can offer the server's text side without its datagram side or the other way round. MODES
# (comma-separated) make it a server that the protocols allow but that is unkind:
#   pad       (tcp) every file answer is followed by 4000 NUL bytes before the file's data;
#   drop      (tcp) a connection is closed right after it delivered the catalogue, as an idle
#             limit, a NAT or a firewall would before the user presses Download;
#   ctlname   (tcp) the catalogue's first name gets a CR and an escape sequence (ESC [2J)
#             after its first character;
#   impostor  (udp) another port of this host answers every catalogue request first with a
#             well-formed acknowledgement and a catalogue of its own ("evil.dll"); the relay
#             log says "impostor answered" for each and "impostor heard" for anything the
#             client sends it.
start_relay() {
    local proto=$1 listen=$2 target=$3 modes=${4:-}
    python3 "$PAVOSET_ROOT/tests/e2e/relay.py" "$proto" "$listen" "$target" "$modes" \
        >"$E2E_DIR/relay-$listen.log" 2>&1 &
    local pid=$! i
    E2E_PIDS+=("$pid")
    for i in $(seq 1 50); do
        grep -q ready "$E2E_DIR/relay-$listen.log" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    e2e_log "relay on $listen did not start: $(cat "$E2E_DIR/relay-$listen.log")"
    return 1
}

# The server's catalogue as it answers the text request, one record a line.
server_catalogue() {  # port
    local answer
    exec 7<>"/dev/tcp/127.0.0.1/$1" || return 1
    printf '#REQ:UPDATELIST\0' >&7
    IFS= read -r -d '' -t 5 answer <&7
    exec 7>&- 7<&-
    answer=${answer#\#EXL: OK:}
    printf '%s' "$answer" | sed 's/~|/\n/g'
    echo
}

# hold_file NAME: another program opens NAME in the install folder with no sharing and keeps it
# open until release_file. Sets HOLD_PID.
hold_file() {
    HOLD_STOP="$E2E_DIR/release-hold"
    rm -f "$HOLD_STOP" "$E2E_DIR/holdfile.out"
    (exec wine "$HOLDFILE_BIN" "$INSTALL_FOLDER_TEXT\\$1" --until "$(winepath -w "$HOLD_STOP" 2>/dev/null)" \
        --timeout 120000 >"$E2E_DIR/holdfile.out" 2>&1) &
    HOLD_PID=$!
    E2E_PIDS+=("$HOLD_PID")
    for _ in $(seq 1 100); do
        grep -q held "$E2E_DIR/holdfile.out" 2>/dev/null && return 0
        sleep 0.1
    done
    e2e_log "holdfile: $(cat "$E2E_DIR/holdfile.out" 2>/dev/null)"
    return 1
}

release_file() {
    touch "$HOLD_STOP"
    for _ in $(seq 1 50); do kill -0 "$HOLD_PID" 2>/dev/null || break; sleep 0.1; done
    stop_pid "$HOLD_PID"
}

# ---------------------------------------------------------------- the program
ua() { wine "$UIAUTO_BIN" "$@" 2>>"$E2E_DIR/uiauto.err"; }

start_pavoset() {  # [arguments...]; waits for the main window
    (cd "$E2E_DIR/app" && exec wine Pavoset.exe "$@" >>"$E2E_DIR/pavoset.out" 2>&1) &
    PAVOSET_PID=$!
    ua --timeout 20000 wait-window >/dev/null
}

# Closes the program, answering No to any closing question; kills it if it will not go.
stop_pavoset() {
    [ -n "$PAVOSET_PID" ] || return 0
    if kill -0 "$PAVOSET_PID" 2>/dev/null; then
        ua --timeout 1000 answer-msgbox ok >/dev/null 2>&1
        ua --timeout 1000 answer-msgbox no >/dev/null 2>&1
        ua --timeout 1000 close >/dev/null 2>&1
        ua --timeout 1500 answer-msgbox no >/dev/null 2>&1
        local i
        for i in $(seq 1 50); do
            kill -0 "$PAVOSET_PID" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$PAVOSET_PID" 2>/dev/null; then
            e2e_log "Pavoset.exe did not close; killing it"
            kill -9 "$PAVOSET_PID" 2>/dev/null
        fi
    fi
    wait "$PAVOSET_PID" 2>/dev/null
    PAVOSET_PID=
    return 0
}

# Waits until the list holds COUNT rows (the refresh blocks the program while it talks).
wait_rows() {  # count [timeout_ms]
    ua --timeout "${2:-30000}" wait-rows "$1" >/dev/null
}

rows() { ua rows | tr -d '\r'; }

# Prints "name<TAB>status" per row.
row_status() { rows | awk -F'\t' '{ print $2 "\t" $6 }'; }

all_rows_are() {  # status count
    local got
    got=$(rows)
    if [ "$(printf '%s\n' "$got" | grep -c .)" = "$2" ] &&
       ! printf '%s\n' "$got" | awk -F'\t' -v s="$1" '$6 != s { bad = 1 } END { exit !bad }'; then
        return 0
    fi
    e2e_log "rows (wanted $2 x $1):"
    printf '%s\n' "$got" | sed 's/^/    /'
    return 1
}

row_is() {  # name status
    local got
    got=$(row_status | awk -F'\t' -v n="$1" '$1 == n { print $2 }')
    [ "$got" = "$2" ] && return 0
    e2e_log "row $1 shows '$got', wanted '$2'"
    return 1
}

# Column 4 (current size) equals column 3 (the catalogue's size) on every row.
sizes_agree() {
    local bad
    bad=$(rows | awk -F'\t' '$4 != $5')
    [ -z "$bad" ] && return 0
    e2e_log "sizes differ: $bad"
    return 1
}

message_line() { ua text "$ID_MESSAGE_LINE" | tr -d '\r'; }

# The installed file has the server's bytes and its modification time.
same_as_server() {  # root name
    local a="$1/$2" b="$INSTALL_DIR/$2"
    if ! cmp -s "$a" "$b"; then e2e_log "$2 differs from the server's copy"; return 1; fi
    # To the 100 ns of a file time: a half taken with the wrong sign is off by minutes,
    # a dropped fraction by less than a second.
    if [ "$(stat -c %.7Y "$a")" != "$(stat -c %.7Y "$b")" ]; then
        e2e_log "$2 time $(stat -c %.7Y "$b"), server's $(stat -c %.7Y "$a")"
        return 1
    fi
    return 0
}

# check_all_installed ROOT [EXCEPT]: one check per file of the server's folder ROOT (but EXCEPT)
# that it is installed with the server's bytes and time.
check_all_installed() {
    local f
    for f in $(ls "$1"); do
        [ "$f" = "${2:-}" ] || check "installed $f" same_as_server "$1" "$f"
    done
}

# The ledger repeats the server's catalogue, one CR LF line per record.
ledger_matches() {  # server port
    local ledger="$INSTALL_DIR/EXCELLIBINFO.DAT" expected
    [ -f "$ledger" ] || { e2e_log "no ledger"; return 1; }
    expected=$(server_catalogue "$1")
    if [ "$(printf '%s\n' "$expected" | grep -c .)" != "$(grep -c $'\r$' "$ledger")" ] ||
       [ "$(tail -c 2 "$ledger" | od -An -c | tr -d ' ')" != '\r\n' ]; then
        e2e_log "ledger lines are not one CR LF line per record"
        return 1
    fi
    if [ "$(printf '%s\n' "$expected" | grep . | sort)" != "$(tr -d '\r' <"$ledger" | sort)" ]; then
        e2e_log "ledger differs from the catalogue:"
        diff <(printf '%s\n' "$expected" | grep . | sort) <(tr -d '\r' <"$ledger" | sort) |
            sed 's/^/    /'
        return 1
    fi
    return 0
}

# Names the server was asked for, over either protocol, one a line.
fetched_names() {  # [server log], else standard input
    sed -n -e 's/.*#REQ:FTP_RCV:\([^ ]*\) ->.*/\1/p' -e 's/.*file [^ ]*: sending \([^ ]*\) (.*/\1/p' "${1:--}"
}

point_registry_at() {  # port [IsPlimo]
    reg_set ip 127.0.0.1
    reg_set port "$1"
    [ -n "${2:-}" ] && reg_set IsPlimo "$2"
    return 0
}

# ---------------------------------------------------------------- the run log and unattended runs
# The program's run log in the prefix's local application data, as UTF-8.
run_log_file() { ls "$WINE_C"/users/*/AppData/Local/Pavoset/Pavoset.log 2>/dev/null | head -n 1; }

# run_log_mark; ... ; run_log_since: the lines written in between.
run_log_mark() {
    local file
    file=$(run_log_file)
    RUN_LOG_MARK=0
    [ -n "$file" ] && RUN_LOG_MARK=$(stat -c %s "$file")
    return 0
}
run_log_since() {
    local file
    file=$(run_log_file)
    [ -n "$file" ] || return 0
    tail -c +$((RUN_LOG_MARK + 1)) "$file" | iconv -f CP949 -t UTF-8 | tr -d '\r'
}

run_log_has() {  # text: a line since the mark contains it
    grep -qF -- "$1" <<<"$(run_log_since)" && return 0
    e2e_log "no log line with '$1'; the log since the mark:"
    run_log_since | sed 's/^/    /'
    return 1
}

# run_unattended ARGS...: Pavoset.exe without a window; sets UNATTENDED_RC and UNATTENDED_OUT
# (what it printed, as UTF-8). UNATTENDED_EXE, a Windows path, runs another copy (an installed
# one) from the same folder.
run_unattended() {
    (cd "$E2E_DIR/app" && exec wine "${UNATTENDED_EXE:-Pavoset.exe}" "$@" >"$E2E_DIR/unattended.out" 2>>"$E2E_DIR/pavoset.out")
    UNATTENDED_RC=$?
    UNATTENDED_OUT=$(iconv -f CP949 -t UTF-8 "$E2E_DIR/unattended.out" | tr -d '\r')
    e2e_log "Pavoset.exe $* -> $UNATTENDED_RC"
}

exit_code_is() {  # expected
    [ "$UNATTENDED_RC" = "$1" ] && return 0
    e2e_log "exit code $UNATTENDED_RC, wanted $1; it printed:"
    printf '%s\n' "$UNATTENDED_OUT" | sed 's/^/    /'
    return 1
}

# Name, bytes and time of every file in the install folder; the ledger by its bytes only
# (its time is when it was written).
install_folder_state() {
    (cd "$INSTALL_DIR" 2>/dev/null && for f in *; do
        [ -f "$f" ] || continue
        local when
        when=$(stat -c %.7Y "$f")
        [ "$f" = EXCELLIBINFO.DAT ] && when=-
        printf '%s %s %s\n' "$f" "$(md5sum <"$f" | cut -d' ' -f1)" "$when"
    done)
}
