#!/usr/bin/env bash
# Where the program looks for its server: nothing answering at all, and "-ip" winning over
# a registry that points elsewhere.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

ROOT="$E2E_DIR/library"
make_library "$ROOT" Kickoff.xls Stickrow64.dll || setup_failed server-address-setup

# ------------------------------------------------------------------ no server at all
scenario no-server
next_port DEAD_PORT
point_registry_at "$DEAD_PORT"
START=$(date +%s)
check "main window" start_pavoset
BOX=$(ua --timeout 120000 wait-msgbox | tr -d '\r')
e2e_log "failure box after $(($(date +%s) - START)) s: $(tr '\n' '|' <<<"$BOX")"
check "communication failure box" test "$BOX" = "$(program_text TEXT_ERROR_CAPTION)"$'\n'"$(program_text TEXT_COMMUNICATION_FAILURE)"
screenshot no-server-box
check "answer OK" ua answer-msgbox ok
check "empty list" test "$(ua row-count | tr -d '\r')" = 0
check "no IsPlimo written on failure" reg_absent IsPlimo
scenario_end

# ------------------------------------------------------------------ "-ip" over the registry
start_server "$ROOT" || setup_failed server-address-server
scenario ip-option
# The registry names a host that must never be looked up; its port is the server's.
reg_set ip nonexistent.invalid
reg_set port "$SERVER_PORT"
reg_set IsPlimo 1
LOG_BEFORE=$(wc -l <"$SERVER_LOG")
check "main window" start_pavoset -ip 127.0.0.1
TITLE=$(ua title | tr -d '\r')
e2e_log "title: $TITLE"
check "title ends with ( 127.0.0.1)" test "$TITLE" = "$MAIN_TITLE( 127.0.0.1)"
check "catalogue from the -ip host" wait_rows 2
check "two rows New" all_rows_are "$STATUS_NEW" 2
check "server saw the program" test "$(tail -n +$((LOG_BEFORE + 1)) "$SERVER_LOG" | grep -c 'UPDATELIST')" -ge 1
check "registry host left alone" reg_is ip nonexistent.invalid
scenario_end

# ------------------------------------------------------------------ no registry: Offline.INI beside the program
scenario offline-ini
printf '; written by the test\r\n[SERVER]\r\nIP=127.0.0.1\r\nPORT=%s\r\n' "$SERVER_PORT" \
    >"$E2E_DIR/app/Offline.INI"
LOG_BEFORE=$(wc -l <"$SERVER_LOG")
check "main window" start_pavoset
check "catalogue from the file's server" wait_rows 2
check "server saw the program" test "$(tail -n +$((LOG_BEFORE + 1)) "$SERVER_LOG" | grep -c 'UPDATELIST')" -ge 1
check "file copied into the install folder" cmp -s "$E2E_DIR/app/Offline.INI" "$INSTALL_DIR/Offline.INI"
check "registry address left empty" reg_absent ip
scenario_end

# ------------------------------------------------------------------ an "-ip" text too long for the host field
scenario ip-option-too-long
point_registry_at "$SERVER_PORT" 1
LONG_HOST=$(printf 'h%.0s' $(seq 1 70)).invalid
(cd "$E2E_DIR/app" && exec wine Pavoset.exe -ip "$LONG_HOST" >>"$E2E_DIR/pavoset.out" 2>&1) &
PAVOSET_PID=$!
BOX=$(ua --timeout 20000 wait-msgbox | tr -d '\r')
e2e_log "box: $(tr '\n' '|' <<<"$BOX")"
check "refused with a message" grep -q '63' <<<"$BOX"
check "OK" ua answer-msgbox ok
check "main window" ua --timeout 20000 wait-window >/dev/null
TITLE=$(ua title | tr -d '\r')
check "title without the refused host ($TITLE)" test "$TITLE" = "$MAIN_TITLE"
check "catalogue from the registry's server" wait_rows 2
scenario_end

e2e_finish
