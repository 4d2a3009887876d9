#!/usr/bin/env bash
# A signed library through the real window: installs and says it verified (over both
# protocols); a file changed on the server after signing is refused and named while the
# others install, and a catalogue giving a signed file another size is refused whole; a key that did not sign the library installs nothing and says why; an
# installed file other than signed is pending and reinstalled; an older manifest is refused
# for an account that never saw the newer one.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup || exit 1

VERIFIED_TEXT=$(program_text TEXT_SIGNATURE_VERIFIED)
MISMATCH_TEXT=$(program_text TEXT_REASON_SIGNATURE_MISMATCH)
UNKNOWN_KEY_TEXT=$(program_text TEXT_VERDICT_UNKNOWN_KEY)

ROOT="$E2E_DIR/library"
make_library "$ROOT" || setup_failed signed-library-setup
PUBLISHER=$("$SERVER_BIN" --make-key "$E2E_DIR/publisher.pem") || setup_failed signed-library-key
OTHER=$("$SERVER_BIN" --make-key "$E2E_DIR/other.pem") || setup_failed signed-library-key
"$SERVER_BIN" --sign "$ROOT" --key "$E2E_DIR/publisher.pem" --expires-days 30 2>/dev/null ||
    setup_failed signed-library-sign
start_server "$ROOT" || setup_failed signed-library-setup
FILES=$(ls "$ROOT" | grep -vcx Pavoset.manifest)

no_manifest_installed() { test ! -e "$INSTALL_DIR/Pavoset.manifest"; }
line_has() { grep -q "$1" <<<"$(message_line)" || { e2e_log "message line: $(message_line)"; return 1; }; }

for protocol in 1 0; do
    scenario "signed-install-$([ $protocol = 1 ] && echo text || echo framed)"
    point_registry_at "$SERVER_PORT" "$protocol"
    reg_set PublisherKey "$PUBLISHER"
    check "main window" start_pavoset
    check "catalogue rows" wait_rows "$FILES"
    check "the manifest is not a row" bash -c '! grep -q Pavoset.manifest <<<"$0"' "$(rows)"
    check "says verified" ua --timeout 20000 wait-text "$ID_MESSAGE_LINE" "$VERIFIED_TEXT"
    check "Download" ua click "$ID_DOWNLOAD_BUTTON"
    check "completion line" ua --timeout 90000 wait-text "$ID_MESSAGE_LINE" "$COMPLETION_TEXT"
    check "every row Match" all_rows_are "$STATUS_MATCH" "$FILES"
    check_all_installed "$ROOT" Pavoset.manifest
    check "manifest read, not installed" no_manifest_installed
    scenario_end
done

# ------------------------------------------------------------------ changed after signing
CHANGED="$E2E_DIR/changed"
make_library "$CHANGED" Kickoff.xls PlimoSetup.ini Stickrow.dll || setup_failed signed-changed-setup
"$SERVER_BIN" --sign "$CHANGED" --key "$E2E_DIR/publisher.pem" 2>/dev/null || setup_failed signed-changed-sign
# Same size, other bytes: only the hash tells, file by file.
printf 'FORGED' | dd of="$CHANGED/Stickrow.dll" bs=1 seek=4000 conv=notrunc 2>/dev/null
start_server "$CHANGED" || setup_failed signed-changed-setup
CHANGED_LOG=$SERVER_LOG

scenario changed-after-signing
mkdir -p "$INSTALL_DIR"
printf 'the old dll\r\n' >"$INSTALL_DIR/Stickrow.dll"
printf '[old]\r\n' >"$INSTALL_DIR/PlimoSetup.ini"
cp "$INSTALL_DIR/Stickrow.dll" "$INSTALL_DIR/PlimoSetup.ini" "$E2E_DIR/"
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$OTHER;$PUBLISHER"
check "main window" start_pavoset
check "three rows" wait_rows 3
check "says verified" ua --timeout 20000 wait-text "$ID_MESSAGE_LINE" "$VERIFIED_TEXT"
e2e_log "message line: $(message_line)"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "button enabled again" ua --timeout 60000 wait-enabled "$ID_DOWNLOAD_BUTTON"
LINE=$(message_line)
e2e_log "message line: $LINE"
check "Stickrow.dll named as a mismatch" grep -q "Stickrow.dll($MISMATCH_TEXT)" <<<"$LINE"
check "old Stickrow.dll kept" cmp -s "$E2E_DIR/Stickrow.dll" "$INSTALL_DIR/Stickrow.dll"
check "Kickoff.xls installed" same_as_server "$CHANGED" Kickoff.xls
check "PlimoSetup.ini installed" same_as_server "$CHANGED" PlimoSetup.ini
check "Kickoff.xls Match" row_is Kickoff.xls "$STATUS_MATCH"
check "Stickrow.dll not Match" bash -c '! grep -q "^Stickrow.dll	$0" <<<"$1"' "$STATUS_MATCH" "$(row_status)"
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -vx -e Kickoff.xls -e Stickrow.dll -e PlimoSetup.ini -e EXCELLIBINFO.DAT -e Pavoset.sequence)
check "no temporary file left ($LEFT)" test -z "$LEFT"
scenario_end

# A longer file: the catalogue's size is not the signed one, so the catalogue announces bytes
# nobody signed and is refused whole; nothing is fetched.
printf '\r\nEvil=1\r\n' >>"$CHANGED/PlimoSetup.ini"
start_server "$CHANGED" || setup_failed signed-longer-setup
scenario catalogue-size-not-signed
mkdir -p "$INSTALL_DIR"
printf '[old]\r\n' >"$INSTALL_DIR/PlimoSetup.ini"
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$PUBLISHER"
run_log_mark
run_unattended -install
check "-install: refused (2)" exit_code_is 2
check "the run log names the file" run_log_has "$(program_line TEXT_VERDICT_CATALOGUE_SIZE_FORMAT PlimoSetup.ini)"
check "old PlimoSetup.ini kept" cmp -s "$E2E_DIR/PlimoSetup.ini" "$INSTALL_DIR/PlimoSetup.ini"
FETCHED=$(fetched_names "$SERVER_LOG" | grep -vx Pavoset.manifest | sort -u | tr '\n' ' ')
check "no library file fetched (fetched: $FETCHED)" test -z "$FETCHED"
scenario_end

# ------------------------------------------------------------------ a key that did not sign it
start_server "$ROOT" || setup_failed signed-wrong-key-setup
scenario wrong-key
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$OTHER"
check "main window" start_pavoset
check "catalogue rows still shown" wait_rows "$FILES"
check "says why" ua --timeout 20000 wait-text "$ID_MESSAGE_LINE" "$UNKNOWN_KEY_TEXT"
check "Download" ua click "$ID_DOWNLOAD_BUTTON"
check "button enabled again" ua --timeout 30000 wait-enabled "$ID_DOWNLOAD_BUTTON"
check "still says why" line_has "$UNKNOWN_KEY_TEXT"
check "nothing installed" test -z "$(ls -A "$INSTALL_DIR" 2>/dev/null)"
check "every row still New" all_rows_are "$STATUS_NEW" "$FILES"
scenario_end

# ------------------------------------------------------------------ installed files
# A same-size workbook in place of the signed one: .xls has no CRC check, so only the hash
# tells. With the key it is pending, named in the run log and reinstalled; without, it
# compares as before (size) and stays.
NOT_SIGNED_LOG=$(program_line TEXT_LOG_INSTALLED_NOT_SIGNED_FORMAT Kickoff.xls)
OLDER_TEXT=$(program_text TEXT_VERDICT_OLDER)
start_server "$ROOT" || setup_failed signed-installed-setup
forge_kickoff() {
    cp "$ROOT/Kickoff.xls" "$E2E_DIR/forged.xls" &&
        printf '\001\002\003\004' | dd of="$E2E_DIR/forged.xls" bs=1 seek=512 conv=notrunc 2>/dev/null &&
        ! cmp -s "$ROOT/Kickoff.xls" "$E2E_DIR/forged.xls" &&
        cp "$E2E_DIR/forged.xls" "$INSTALL_DIR/Kickoff.xls"
}
scenario installed-file-held-to-the-signature
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$PUBLISHER"
run_unattended -install
check "-install: everything" exit_code_is 0
check "a same-size forgery in place" forge_kickoff
run_log_mark
run_unattended -check
check "-check: pending with the key" exit_code_is 10
check "the run log names it" run_log_has "$NOT_SIGNED_LOG"
run_unattended -install
check "-install: reinstalled" exit_code_is 0
check "Kickoff.xls as signed again" same_as_server "$ROOT" Kickoff.xls
wine reg delete "$SERVER_KEY" /v PublisherKey /f >/dev/null 2>&1
check "a same-size forgery again" forge_kickoff
run_unattended -check
check "-check: Match without a key" exit_code_is 0
check "the forgery stays without a key" cmp -s "$E2E_DIR/forged.xls" "$INSTALL_DIR/Kickoff.xls"
scenario_end

# The same signed manifest with a catalogue that leaves Kickoff.xls out: the catalogue is not
# signed, so it may not decide which signed files are compared (a row of another size is
# still compared, and refused per file, as above). Refused whole, said in the log.
DROPPED="$E2E_DIR/dropped"
mkdir -p "$DROPPED" && cp -p "$ROOT"/* "$DROPPED"/ && rm -f "$DROPPED/Kickoff.xls" ||
    setup_failed signed-dropped-setup
INCOMPLETE_TEXT=$(program_line TEXT_VERDICT_CATALOGUE_INCOMPLETE_FORMAT Kickoff.xls)
start_server "$DROPPED" || setup_failed signed-dropped-setup
scenario catalogue-without-a-signed-file
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$PUBLISHER"
mkdir -p "$INSTALL_DIR"
check "a same-size forgery in place" forge_kickoff
run_log_mark
run_unattended -check
check "-check: refused, not current" exit_code_is 2
check "the run log names the missing file" run_log_has "$INCOMPLETE_TEXT"
run_unattended -install
check "-install: nothing installed" exit_code_is 2
check "the forgery is still there to be found" cmp -s "$E2E_DIR/forged.xls" "$INSTALL_DIR/Kickoff.xls"
scenario_end

# ------------------------------------------------------------------ rollback, another account
# The second account of the PC has no registry value of its own (the whole key deleted here,
# as a fresh profile has none): the install folder's counter still refuses the older manifest.
ROLLBACK="$E2E_DIR/rollback"
make_library "$ROLLBACK" Kickoff.xls Stickrow.dll || setup_failed signed-rollback-setup
"$SERVER_BIN" --sign "$ROLLBACK" --key "$E2E_DIR/publisher.pem" 2>/dev/null || setup_failed signed-rollback-sign
cp "$ROLLBACK/Pavoset.manifest" "$E2E_DIR/older.manifest"
"$SERVER_BIN" --sign "$ROLLBACK" --key "$E2E_DIR/publisher.pem" 2>/dev/null || setup_failed signed-rollback-sign
start_server "$ROLLBACK" || setup_failed signed-rollback-setup
scenario rollback-refused-for-every-account
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$PUBLISHER"
run_unattended -install
check "-install with the newer manifest" exit_code_is 0
check "the folder keeps the sequence" test -s "$INSTALL_DIR/Pavoset.sequence"
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -i '^pv.*\.tmp$')
check "no temporary file left ($LEFT)" test -z "$LEFT"
cp "$E2E_DIR/older.manifest" "$ROLLBACK/Pavoset.manifest"
wine reg delete "$INSTALL_KEY" /f >/dev/null 2>&1
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$PUBLISHER"
run_unattended -check
check "-check refuses the older manifest" exit_code_is 2
check "and says why" grep -qF "$OLDER_TEXT" <<<"$UNATTENDED_OUT"
scenario_end

# A counter that cannot be written does not stop the run, and the run log says so.
SEQUENCE_PATH="$(header_text res/resource.h INSTALL_FOLDER_TEXT)\\$(header_text catalogue/sequence_file.h SEQUENCE_FILE_NAME)"
NOT_RECORDED_LOG=$(program_line TEXT_LOG_SEQUENCE_NOT_RECORDED_FORMAT "$SEQUENCE_PATH")
"$SERVER_BIN" --sign "$ROLLBACK" --key "$E2E_DIR/publisher.pem" 2>/dev/null || setup_failed signed-rollback-sign
scenario sequence-not-recorded
mkdir -p "$INSTALL_DIR/Pavoset.sequence"
point_registry_at "$SERVER_PORT" 1
reg_set PublisherKey "$PUBLISHER"
run_log_mark
run_unattended -install
check "-install still installs" exit_code_is 0
check "the run log says the sequence was not recorded" run_log_has "$NOT_RECORDED_LOG"
scenario_end

e2e_finish
