#!/usr/bin/env bash
# Installing over the text protocol as a user meets it: the first installation with the
# closing question and Excel, an upgrade, nothing to upgrade, a file another program holds,
# the window while an installation runs, and an unkind server and network.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

ROOT="$E2E_DIR/library"
make_library "$ROOT" || setup_failed install-text-setup
start_server "$ROOT" || setup_failed install-text-setup
ROOT_PORT=$SERVER_PORT
FILES=$(ls "$ROOT" | wc -l)

# ------------------------------------------------------------------ first installation
scenario first-install-text
point_registry_at "$SERVER_PORT" 1
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
check "every row New" all_rows_are "$STATUS_NEW" "$FILES"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 60000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "button enabled again" ua --timeout 5000 wait-enabled "$ID_DOWNLOAD_BUTTON"
check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
check "current size equals the catalogue's" sizes_agree
check_all_installed "$ROOT"
check "ledger" ledger_matches "$SERVER_PORT"
check "IsPlimo 1" reg_is IsPlimo 1
screenshot first-install-text-done
screenshot_main_window "$PAVOSET_ARTIFACTS/main-window-after-install.png"
check "close" ua close
QUESTION=$(ua --timeout 5000 wait-msgbox | tr -d '\r')
check "closing question" test "$QUESTION" = "$(program_text TEXT_CLOSING_CAPTION)"$'\n'"$(program_text TEXT_CLOSING_QUESTION)"
[ -n "$QUESTION" ] && e2e_log "question: $(tr '\n' '|' <<<"$QUESTION")"
screenshot first-install-question
check "answer Yes" ua answer-msgbox yes
check "window gone" ua --timeout 10000 wait-gone
for _ in $(seq 1 50); do [ -s "$EXCEL_LOG" ] && break; sleep 0.2; done
check "Excel started with the workbook" grep -qF "$INSTALL_FOLDER_TEXT\\Kickoff.xls" "$EXCEL_LOG"
[ -s "$EXCEL_LOG" ] && e2e_log "Excel: $(cat "$EXCEL_LOG")"
scenario_end

# ------------------------------------------------------------------ upgrade: one changed, one matching
SMALL="$E2E_DIR/small"
make_library "$SMALL" Kickoff.xls Stickrow64.dll || setup_failed install-text-small-library
start_server "$SMALL" || setup_failed install-text-small-library
SMALL_PORT=$SERVER_PORT
SMALL_LOG=$SERVER_LOG

scenario upgrade-one-changed
mkdir -p "$INSTALL_DIR"
cp -p "$SMALL/Kickoff.xls" "$INSTALL_DIR/"
# Same size, different bytes: only the CRC tells it apart.
cp "$SMALL/Stickrow64.dll" "$INSTALL_DIR/"
printf 'CHANGED' | dd of="$INSTALL_DIR/Stickrow64.dll" bs=1 seek=100 conv=notrunc 2>/dev/null
point_registry_at "$SMALL_PORT" 1
LOG_BEFORE=$(wc -l <"$SMALL_LOG")
check "main window" start_pavoset
check "two rows" wait_rows 2
check "Kickoff.xls Match" row_is Kickoff.xls "$STATUS_MATCH"
check "Stickrow64.dll Changed" row_is Stickrow64.dll "$STATUS_CHANGED"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 60000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "both Match" all_rows_are "$STATUS_MATCH" 2
check "Stickrow64.dll installed" same_as_server "$SMALL" Stickrow64.dll
FETCHED=$(tail -n +$((LOG_BEFORE + 1)) "$SMALL_LOG" | fetched_names | sort -u | tr '\n' ' ')
check "only the changed file fetched (fetched: $FETCHED)" test "$FETCHED" = "Stickrow64.dll "
check "close" ua close
check "no closing question after an upgrade" ua --timeout 2000 expect-no-msgbox
check "window gone" ua --timeout 10000 wait-gone
check "Excel not started" test ! -e "$EXCEL_LOG"
scenario_end

# ------------------------------------------------------------------ nothing to upgrade
scenario nothing-to-upgrade
mkdir -p "$INSTALL_DIR"
cp -p "$SMALL/Kickoff.xls" "$SMALL/Stickrow64.dll" "$INSTALL_DIR/"
point_registry_at "$SMALL_PORT" 1
LOG_BEFORE=$(wc -l <"$SMALL_LOG")
check "main window" start_pavoset
check "two rows" wait_rows 2
check "both Match" all_rows_are "$STATUS_MATCH" 2
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
BOX=$(ua --timeout 30000 wait-msgbox | tr -d '\r')
check "nothing-to-upgrade box" test "$BOX" = $'Pavoset.exe\n'"$(program_text TEXT_NOTHING_TO_UPGRADE)"
[ -n "$BOX" ] && e2e_log "box: $(tr '\n' '|' <<<"$BOX")"
screenshot nothing-to-upgrade-box
check "answer OK" ua answer-msgbox ok
check "button enabled again" ua --timeout 5000 wait-enabled "$ID_DOWNLOAD_BUTTON"
check "message line unchanged" grep -qF "$INITIAL_MESSAGE" <<<"$(message_line)"
check "nothing fetched" test -z "$(tail -n +$((LOG_BEFORE + 1)) "$SMALL_LOG" | fetched_names)"
check "ledger still rewritten" ledger_matches "$SMALL_PORT"
scenario_end

# ------------------------------------------------------------------ a file held open elsewhere
scenario file-in-use
mkdir -p "$INSTALL_DIR"
printf 'the old library, still in use\r\n' >"$INSTALL_DIR/Stickrow64.dll"
cp "$INSTALL_DIR/Stickrow64.dll" "$E2E_DIR/old-Stickrow64.dll"
point_registry_at "$SMALL_PORT" 1
check "file held by another program" hold_file Stickrow64.dll
check "main window" start_pavoset
check "two rows" wait_rows 2
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "button enabled again" ua --timeout 60000 wait-enabled "$ID_DOWNLOAD_BUTTON"
LINE=$(message_line)
e2e_log "message line: $LINE"
check "held file named in the message line" grep -q 'Stickrow64.dll' <<<"$LINE"
check "no claim of success alone" bash -c '! grep -q "$0" <<<"$1" || grep -q "실패" <<<"$1"' "$COMPLETION_TEXT" "$LINE"
check "Kickoff.xls installed" same_as_server "$SMALL" Kickoff.xls
check "Stickrow64.dll row not Match" bash -c '! grep -q "^Stickrow64.dll	$0" <<<"$1"' "$STATUS_MATCH" "$(row_status)"
release_file
check "old file intact" cmp -s "$E2E_DIR/old-Stickrow64.dll" "$INSTALL_DIR/Stickrow64.dll"
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -vx -e Kickoff.xls -e Stickrow64.dll -e EXCELLIBINFO.DAT -e Offline.INI)
check "no temporary file left ($LEFT)" test -z "$LEFT"
scenario_end

# ------------------------------------------------------------------ the window while an installation runs
# A server that pauses before each file keeps the installation busy for several seconds.
SLOW="$E2E_DIR/slow"
make_library "$SLOW" || setup_failed install-text-slow-server
start_server "$SLOW" "" --answer-gap-ms 2000 || setup_failed install-text-slow-server
SLOW_PORT=$SERVER_PORT

scenario busy-install
mkdir -p "$INSTALL_DIR"
printf 'the old library\r\n' >"$INSTALL_DIR/Stickrow64.dll"
cp "$INSTALL_DIR/Stickrow64.dll" "$E2E_DIR/old-Stickrow64.dll"
point_registry_at "$SLOW_PORT" 1
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
sleep 1.5
check "still installing" test "$(ua enabled "$ID_DOWNLOAD_BUTTON" | tr -d '\r')" = 0
ua close
BOX=$(ua --timeout 3000 wait-msgbox 2>/dev/null | tr -d '\r')
if [ -n "$BOX" ]; then
    e2e_log "closing during the installation: $(tr '\n' '|' <<<"$BOX")"
    screenshot busy-install-closing
    ua answer-msgbox ok || ua answer-msgbox no
fi
# The settings dialog would refresh the catalogue from under the installation.
ua menu "$ID_MENU_SERVER_SETTINGS"
if ua --timeout 2000 dlg-find >/dev/null 2>&1; then
    e2e_log "settings opened during the installation; applying it unchanged"
    ua dlg-click "$SETTINGS_APPLY_ID"
    ua --timeout 5000 dlg-gone
fi
installing_or_gone() {
    ! ua --timeout 200 title >/dev/null 2>&1 || [ "$(ua enabled "$ID_DOWNLOAD_BUTTON" | tr -d '\r')" = 0 ]
}
check "installation undisturbed by close and settings" installing_or_gone
# Whatever the program chose (wait, stop or refuse), it must come to rest: either gone or
# finished; a finished one is then closed normally.
for _ in $(seq 1 120); do
    ua --timeout 200 title >/dev/null 2>&1 || break
    [ "$(ua enabled "$ID_DOWNLOAD_BUTTON" 2>/dev/null | tr -d '\r')" = 1 ] && break
    sleep 0.5
done
if ua --timeout 200 title >/dev/null 2>&1; then
    LINE=$(message_line)
    e2e_log "message line: $LINE"
    check "installation finished" grep -q "$COMPLETION_TEXT" <<<"$LINE"
    check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
    ua close
    ua --timeout 3000 answer-msgbox no >/dev/null 2>&1
fi
check "program ended" ua --timeout 15000 wait-gone
for f in $(ls "$SLOW"); do
    [ -e "$INSTALL_DIR/$f" ] || continue
    if ! cmp -s "$SLOW/$f" "$INSTALL_DIR/$f"; then
        check "$f is the old file or the new one, never a part" \
            cmp -s "$E2E_DIR/old-$f" "$INSTALL_DIR/$f"
    fi
done
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -vx -f <(ls "$SLOW"; echo EXCELLIBINFO.DAT; echo Offline.INI))
check "no temporary file left ($LEFT)" test -z "$LEFT"
scenario_end

# ------------------------------------------------------------------ an unkind server and network
# The server pads each file answer with NULs and sends the data later, and the connection the
# list came over is dropped before Download (an idle limit, a NAT). Then the server goes away
# while the list is shown, and comes back: Download must neither say there is nothing to do
# nor need a restart.
scenario unkind-text-server
next_port RELAY_PORT
check "padding, dropping relay" start_relay tcp "$RELAY_PORT" "$ROOT_PORT" pad,drop
RELAY_PID=${E2E_PIDS[-1]}
point_registry_at "$RELAY_PORT" 1
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 60000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
check_all_installed "$ROOT"
ua close
ua --timeout 5000 answer-msgbox no >/dev/null 2>&1
check "window gone" ua --timeout 10000 wait-gone

rm -f "$INSTALL_DIR/Kickoff.xls"
printf 'old' >"$INSTALL_DIR/Stickrow64.dll"
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
stop_pid "$RELAY_PID"
check "Download with the server gone" ua click "$ID_DOWNLOAD_BUTTON"
check "button enabled again" ua --timeout 60000 wait-enabled "$ID_DOWNLOAD_BUTTON"
check "no nothing-to-upgrade box" ua --timeout 1000 expect-no-msgbox
LINE=$(message_line)
e2e_log "message line: $LINE"
check "both files failed for want of a connection" \
    bash -c 'grep -q "Kickoff.xls($1)" <<<"$0" && grep -q "Stickrow64.dll($1)" <<<"$0"' "$LINE" "$(program_text TEXT_REASON_NO_CONNECTION)"
check "server back" start_relay tcp "$RELAY_PORT" "$ROOT_PORT" pad,drop
check "Download again" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 60000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "no nothing-to-upgrade box" ua --timeout 1000 expect-no-msgbox
check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
check "Kickoff.xls installed" same_as_server "$ROOT" Kickoff.xls
check "Stickrow64.dll installed" same_as_server "$ROOT" Stickrow64.dll
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -vx -f <(ls "$ROOT"; echo EXCELLIBINFO.DAT; echo Offline.INI))
check "no temporary file left ($LEFT)" test -z "$LEFT"
scenario_end

e2e_finish
