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
check "Download" ua click 1
check "completion line" ua --timeout 60000 wait-text 1004 "$COMPLETION_TEXT"
check "button enabled again" ua --timeout 5000 wait-enabled 1
install_folder_state >"$E2E_DIR/window-state"
check "reference: every file and the ledger" test "$(grep -c . "$E2E_DIR/window-state")" = $((FILES + 1))
check "log: address and its source" run_log_has "서버 주소: 127.0.0.1:$SERVER_PORT (레지스트리)"
check "log: catalogue" run_log_has "카탈로그: 텍스트 프로토콜로 받음, 파일 $FILES개"
check "log: installed file with size" run_log_has "설치됨: Kickoff.xls ($(stat -c %s "$ROOT/Kickoff.xls") 바이트)"
check "log: summary" run_log_has "설치 결과: 설치 $FILES개, 실패 0개"
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
check "a line per file" grep -qF "설치됨: Stickrow64.dll" <<<"$UNATTENDED_OUT"
check "closing summary" grep -qF "설치 결과: 설치 $FILES개, 실패 0개" <<<"$UNATTENDED_OUT"
check "log: unattended start" run_log_has "모드 -install"
check "log: exit code" run_log_has "끝: 종료 코드 0"
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
check "failed file printed" grep -qF "설치 실패: Stickrow64.dll" <<<"$UNATTENDED_OUT"
check "log: failed file with its reason" run_log_has "설치 실패: Stickrow64.dll ($(stat -c %s "$ROOT/Stickrow64.dll") 바이트): $(program_text TEXT_REASON_IN_USE)"
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
    check "printed on the parent console" grep -qF '알 수 없는 옵션 "-force"' <<<"$CONSOLE"
fi
scenario_end

e2e_finish
