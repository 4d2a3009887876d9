#!/usr/bin/env bash
# The two protocols end to end: the framed protocol alone, then the fall back to the text
# protocol when the framed side is down. Relays on our own ports offer one side of the server
# only, so the program has nothing else to succeed with.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

command -v python3 >/dev/null || { e2e_log "python3 is needed for the relays"; setup_failed protocols-setup; }
ROOT="$E2E_DIR/library"
make_library "$ROOT" || setup_failed protocols-setup
start_server "$ROOT" || setup_failed protocols-setup
FILES=$(ls "$ROOT" | wc -l)

# ------------------------------------------------------------------ framed only
scenario framed-only
next_port FRONT
check "datagram relay" start_relay udp "$FRONT" "$SERVER_PORT"
point_registry_at "$FRONT" 0
LOG_BEFORE=$(wc -l <"$SERVER_LOG")
check "main window" start_pavoset
check "catalogue rows over datagrams" wait_rows "$FILES" 60000
check "every row New" all_rows_are "$STATUS_NEW" "$FILES"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 90000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "button enabled again" ua --timeout 5000 wait-enabled "$ID_DOWNLOAD_BUTTON"
check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
# What the program asked for, before our own catalogue request below joins the log.
NEW_LOG=$(tail -n +$((LOG_BEFORE + 1)) "$SERVER_LOG")
check_all_installed "$ROOT"
check "ledger" ledger_matches "$SERVER_PORT"
check "IsPlimo 0" reg_is IsPlimo 0
check "files came from the file service" test "$(fetched_names <(printf '%s\n' "$NEW_LOG") | sort -u | wc -l)" = "$FILES"
check "no text request reached the server" bash -c '! grep -q "#REQ:" <<<"$0"' "$NEW_LOG"
scenario_end

# ------------------------------------------------------------------ framed, raced by an impostor
# Another port on this host answers the catalogue request first; only the server is heard.
scenario framed-impostor
next_port FRONT
check "datagram relay with an impostor" start_relay udp "$FRONT" "$SERVER_PORT" impostor
point_registry_at "$FRONT" 0
check "main window" start_pavoset
check "catalogue rows over datagrams" wait_rows "$FILES" 60000
NAMES=$(rows | awk -F'\t' '{ print $2 }' | sort)
check "the list holds exactly the real catalogue" test "$NAMES" = "$(ls "$ROOT" | sort)"
check "the impostor answered" grep -q "impostor answered" "$E2E_DIR/relay-$FRONT.log"
check "the impostor heard nothing" bash -c '! grep -q "impostor heard" "$0"' "$E2E_DIR/relay-$FRONT.log"
scenario_end

# ------------------------------------------------------------------ framed down, text up
scenario fallback-to-text
next_port FRONT
check "text relay" start_relay tcp "$FRONT" "$SERVER_PORT"
point_registry_at "$FRONT" 0
LOG_BEFORE=$(wc -l <"$SERVER_LOG")
START=$(date +%s)
check "main window" start_pavoset
check "catalogue rows over text" wait_rows "$FILES" 120000
e2e_log "catalogue after $(($(date +%s) - START)) s"
check "IsPlimo 1" reg_is IsPlimo 1
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 60000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
check_all_installed "$ROOT"
NEW_LOG=$(tail -n +$((LOG_BEFORE + 1)) "$SERVER_LOG")
check "files came over text" test "$(grep -c '#REQ:FTP_RCV:' <<<"$NEW_LOG")" -ge "$FILES"
scenario_end

# ------------------------------------------------------------------ framed, a file held open elsewhere
scenario framed-file-in-use
next_port FRONT
check "datagram relay" start_relay udp "$FRONT" "$SERVER_PORT"
point_registry_at "$FRONT" 0
mkdir -p "$INSTALL_DIR"
printf 'the old library, still in use\r\n' >"$INSTALL_DIR/Stickrow64.dll"
cp "$INSTALL_DIR/Stickrow64.dll" "$E2E_DIR/old-Stickrow64.dll"
check "file held by another program" hold_file Stickrow64.dll
check "main window" start_pavoset
check "catalogue rows over datagrams" wait_rows "$FILES" 60000
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
# The framed installer tells of each failed file in a box of its own.
BOX=$(ua --timeout 60000 --caption "$(program_text TEXT_DOWNLOAD_FAILED_CAPTION)" wait-msgbox | tr -d '\r')
e2e_log "box: $(tr '\n' '|' <<<"$BOX")"
check "failure box names the file" grep -q 'Stickrow64.dll' <<<"$BOX"
screenshot framed-file-in-use-box
ua answer-msgbox ok >/dev/null
check "button enabled again" ua --timeout 60000 wait-enabled "$ID_DOWNLOAD_BUTTON"
LINE=$(message_line)
e2e_log "message line: $LINE"
check "held file named in the message line" grep -q 'Stickrow64.dll' <<<"$LINE"
check "others installed" same_as_server "$ROOT" Kickoff.xls
release_file
check "old file intact" cmp -s "$E2E_DIR/old-Stickrow64.dll" "$INSTALL_DIR/Stickrow64.dll"
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -vx -f <(ls "$ROOT"; echo EXCELLIBINFO.DAT; echo Offline.INI))
check "no temporary file left ($LEFT)" test -z "$LEFT"
scenario_end

e2e_finish
