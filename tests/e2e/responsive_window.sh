#!/usr/bin/env bash
# The window while the catalogue cannot be had: nothing listens on the server's port, so the
# text protocol is refused and the framed one waits out its tries (about 50 s). The window
# answers messages throughout, the message line tells what is being tried, Download waits
# for the list, the failure box still comes, and closing during the wait ends the program
# at once. Beside it, an unattended -check against the same nothing ends with 2.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

# ------------------------------------------------------------------ no server: the whole retrieval
scenario no-server-window
next_port NOWHERE
point_registry_at "$NOWHERE" 1
run_log_mark
(cd "$E2E_DIR/app" && wine Pavoset.exe -check >"$E2E_DIR/check.out" 2>>"$E2E_DIR/pavoset.out"
 echo $? >"$E2E_DIR/check.rc") &
CHECK_PID=$!
START=$(date +%s)
check "main window" start_pavoset
LINES=
SLOWEST=0
MISSED=0
for _ in $(seq 1 8); do
    # The exit code says whether it answered in time (no pipe in between to hide it).
    if MS=$(ua ping 1000); then
        MS=${MS//$'\r'/}
        [ "$MS" -gt "$SLOWEST" ] && SLOWEST=$MS
    else
        MISSED=$((MISSED + 1))
    fi
    LINES+="$(message_line)"$'\n'
    sleep 1
done
e2e_log "during the retrieval: slowest answer ${SLOWEST} ms, $MISSED unanswered of 8"
check "the window answered every message within a second" test "$MISSED" = 0
check "progress: connecting" grep -qF "$(program_text TEXT_CONNECTING)" <<<"$LINES"
check "progress: the framed tries" grep -qF "$(program_line_start TEXT_CONNECTING_REQUEST_FORMAT "$(program_text TEXT_PROTOCOL_FRAMED)" 2)" <<<"$LINES"
check "Download waits for the list" test "$(ua enabled "$ID_DOWNLOAD_BUTTON" | tr -d '\r')" = 0
BOX=$(ua --timeout 90000 --caption "$(program_text TEXT_ERROR_CAPTION)" wait-msgbox | tr -d '\r')
e2e_log "failure box after $(($(date +%s) - START)) s: $(tr '\n' '|' <<<"$BOX")"
check "failure box" test "$BOX" = "$(program_text TEXT_ERROR_CAPTION)"$'\n'"$(program_text TEXT_COMMUNICATION_FAILURE)"
check "answer OK" ua answer-msgbox ok
check "Download usable again" ua --timeout 5000 wait-enabled "$ID_DOWNLOAD_BUTTON"
check "empty list" test "$(ua row-count | tr -d '\r')" = 0
check "log: the failure" run_log_has "$(program_line TEXT_LOG_CATALOGUE_FAILED_FORMAT "$(program_text TEXT_PROTOCOL_TEXT)" "$(program_text TEXT_PROTOCOL_FRAMED)" 127.0.0.1 "$NOWHERE")"
wait "$CHECK_PID"
check "-check without a server: no catalogue (2)" test "$(cat "$E2E_DIR/check.rc" 2>/dev/null)" = 2
scenario_end

# ------------------------------------------------------------------ closing while the retrieval waits
scenario close-during-retrieval
next_port NOWHERE
point_registry_at "$NOWHERE" 0
check "main window" start_pavoset
check "framed tries under way" ua --timeout 10000 wait-text "$ID_MESSAGE_LINE" "$(program_line_start TEXT_CONNECTING_TRY_FORMAT "$(program_text TEXT_PROTOCOL_FRAMED)")"
CLOSED_AT=$(date +%s%N)
check "close" ua close
for _ in $(seq 1 100); do
    kill -0 "$PAVOSET_PID" 2>/dev/null || break
    sleep 0.1
done
MS=$((($(date +%s%N) - CLOSED_AT) / 1000000))
e2e_log "process ended $MS ms after the close"
check "process ended within a few seconds" bash -c "! kill -0 $PAVOSET_PID 2>/dev/null"
scenario_end

e2e_finish
