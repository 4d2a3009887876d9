#!/usr/bin/env bash
# The unattended modes against pavoset-server: -install leaves the same files and ledger as
# the window does, and each exit code comes from a real run (all installed, updates pending,
# one file failed, another instance running, an unknown option). The run log names what
# was installed and what failed. (No server at all, exit 2, is in responsive_window.sh.)
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

ROOT="$E2E_DIR/library"
make_library "$ROOT" || setup_failed unattended-setup
start_server "$ROOT" || setup_failed unattended-setup
FILES=$(ls "$ROOT" | wc -l)

# ------------------------------------------------------------------ the window's installation, for reference
scenario window-install-reference
point_registry_at "$SERVER_PORT" 1
run_log_mark
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "completion line" ua --timeout 60000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
check "button enabled again" ua --timeout 5000 wait-enabled "$ID_DOWNLOAD_BUTTON"
install_folder_state >"$E2E_DIR/window-state"
check "reference: every file and the ledger" test "$(grep -c . "$E2E_DIR/window-state")" = $((FILES + 1))
check "log: address and its source" run_log_has "$(program_line TEXT_LOG_SERVER_ADDRESS_FORMAT 127.0.0.1 "$SERVER_PORT" "$(program_text TEXT_ADDRESS_FROM_REGISTRY)")"
check "log: catalogue" run_log_has "$(program_line TEXT_LOG_CATALOGUE_FORMAT "$(program_text TEXT_PROTOCOL_TEXT)" "$FILES")"
check "log: installed file with size" run_log_has "$(program_line TEXT_PASS_INSTALLED_FORMAT Kickoff.xls "$(stat -c %s "$ROOT/Kickoff.xls")" "")"
check "log: summary" run_log_has "$(program_line TEXT_PASS_SUMMARY_FORMAT "$FILES" 0)"
scenario_end

# ------------------------------------------------------------------ -check with everything new, then -install, then -check
scenario unattended-install
point_registry_at "$SERVER_PORT" 1
run_unattended -check
check "-check: updates pending (10)" exit_code_is 10
check "-check lists the files" grep -qF "$STATUS_NEW"$'\t'"Kickoff.xls" <<<"$UNATTENDED_OUT"
check "-check installs nothing" test ! -e "$INSTALL_DIR/Kickoff.xls"
run_log_mark
run_unattended -install
check "-install: all Match (0)" exit_code_is 0
check "a line per file" grep -qF "$(program_line_start TEXT_PASS_INSTALLED_FORMAT Stickrow64.dll)" <<<"$UNATTENDED_OUT"
check "closing summary" grep -qF "$(program_line TEXT_PASS_SUMMARY_FORMAT "$FILES" 0)" <<<"$UNATTENDED_OUT"
# The start line's mode, after the program's version: its format from the last ", " on.
START_MODE=$(program_text TEXT_LOG_START_FORMAT)
check "log: unattended start" run_log_has "$(printf -- "${START_MODE##*, }" -install "")"
check "log: exit code" run_log_has "$(program_line TEXT_LOG_END_FORMAT 0)"
install_folder_state >"$E2E_DIR/unattended-state"
check "files and ledger as the window left them" \
    diff "$E2E_DIR/window-state" "$E2E_DIR/unattended-state"
check "ledger" ledger_matches "$SERVER_PORT"
run_unattended -check
check "-check afterwards: all Match (0)" exit_code_is 0
scenario_end

# ------------------------------------------------------------------ one file cannot be installed
scenario unattended-one-file-fails
point_registry_at "$SERVER_PORT" 1
mkdir -p "$INSTALL_DIR"
printf 'the old library, still in use\r\n' >"$INSTALL_DIR/Stickrow64.dll"
check "file held by another program" hold_file Stickrow64.dll
run_log_mark
run_unattended -install -ip 127.0.0.1
check "-install: some failed (1)" exit_code_is 1
check "failed file printed" grep -qF "$(program_line_start TEXT_PASS_FAILED_FORMAT Stickrow64.dll)" <<<"$UNATTENDED_OUT"
check "log: failed file with its reason" run_log_has "$(program_line TEXT_PASS_FAILED_FORMAT Stickrow64.dll "$(stat -c %s "$ROOT/Stickrow64.dll")" "$(program_text TEXT_REASON_IN_USE)")"
check "log: -ip as the source" run_log_has "(-ip)"
check "others installed" same_as_server "$ROOT" Kickoff.xls
release_file
scenario_end

# ------------------------------------------------------------------ another instance, unknown options
scenario unattended-refusals
point_registry_at "$SERVER_PORT" 1
check "main window" start_pavoset
run_unattended -install
check "-install beside a window: another instance (3)" exit_code_is 3
check "nothing installed by it" test ! -e "$INSTALL_DIR/Kickoff.xls"
stop_pavoset
run_unattended -install -force
check "unknown option (64)" exit_code_is 64
check "the option is named" grep -qF -- '-force' <<<"$UNATTENDED_OUT"
# From a console (a terminal for Wine's cmd), the lines go to that console.
if command -v script >/dev/null; then
    CONSOLE=$(cd "$E2E_DIR/app" && timeout 60 script -qc "wine cmd /c start /wait Pavoset.exe -install -force" /dev/null 2>/dev/null)
    check "printed on the parent console" grep -qF "$(program_line TEXT_CONSOLE_UNKNOWN_OPTION_FORMAT -force)" <<<"$CONSOLE"
fi
scenario_end

# ------------------------------------------------------------------ the task modes touch no file of the folder
# The installer package runs -register-task and -remove-task as SYSTEM, while every account may
# write the install folder: they leave even a leftover staging file of ours alone. A run that
# installs (here -check) removes it, so it is one the cleanup would take.
scenario task-modes-leave-the-folder-alone
point_registry_at "$SERVER_PORT" 1
mkdir -p "$INSTALL_DIR"
printf 'left by a killed run' >"$INSTALL_DIR/pvs1234ABCD.tmp"
PLANTED="$(header_text res/resource.h INSTALL_FOLDER_TEXT)\\pvs1234ABCD.tmp"
wine attrib +h "$PLANTED" >/dev/null 2>&1
check "planted hidden" bash -c 'wine attrib "$0" 2>/dev/null | grep -q "^[^:]*H"' "$PLANTED"
run_unattended -register-task
check "-register-task done" exit_code_is 0
check "-register-task left it" test -e "$INSTALL_DIR/pvs1234ABCD.tmp"
run_unattended -remove-task
check "-remove-task done" exit_code_is 0
check "-remove-task left it" test -e "$INSTALL_DIR/pvs1234ABCD.tmp"
run_unattended -check
check "-check removed it" test ! -e "$INSTALL_DIR/pvs1234ABCD.tmp"
scenario_end

# ------------------------------------------------------------------ a server's name with control characters
# A CR or an escape sequence in a server-given name must not forge a console line or drive
# the terminal: it reaches the console with its control characters replaced.
scenario unattended-control-characters
next_port RELAY_PORT
check "relay" start_relay tcp "$RELAY_PORT" "$SERVER_PORT" ctlname
point_registry_at "$RELAY_PORT" 1
no_control_characters() {
    ! LC_ALL=C grep -q $'\r.' "$E2E_DIR/unattended.out" && ! LC_ALL=C grep -q $'\x1b' "$E2E_DIR/unattended.out"
}
run_unattended -check
check "-check: updates pending (10)" exit_code_is 10
check "-check: no CR inside a line, no escape" no_control_characters
check "-check: the name is printed, cleaned" grep -qF '  [2J' <<<"$UNATTENDED_OUT"
run_unattended -install
check "-install: some failed (1)" exit_code_is 1
check "-install: no CR inside a line, no escape" no_control_characters
check "-install: the name is printed, cleaned" grep -qF '  [2J' <<<"$UNATTENDED_OUT"
scenario_end

# ------------------------------------------------------------------ a failure box left open
# The framed pass's failure box waits for the user; the install lock must be free by then, or
# every other session and scheduled -install would wait for that user. (A second -install in
# the same session is refused by the instance guard anyway, so the lock is tried directly, as
# another session's run would.)
scenario framed-failure-box-holds-no-lock
point_registry_at "$SERVER_PORT" 0
mkdir -p "$INSTALL_DIR"
printf 'the old library, still in use\r\n' >"$INSTALL_DIR/Stickrow64.dll"
check "file held by another program" hold_file Stickrow64.dll
check "main window" start_pavoset
check "catalogue rows" wait_rows "$FILES"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
BOX=$(ua --timeout 60000 wait-msgbox | tr -d '\r')
check "failure box for the held file" grep -qF "$(program_line TEXT_DOWNLOAD_FAILED_FORMAT Stickrow64.dll)" <<<"$BOX"
check "install lock free while the box is open" ua install-lock-free
check "answer OK" ua answer-msgbox ok
release_file
stop_pavoset
scenario_end

e2e_finish
