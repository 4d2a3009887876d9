#!/usr/bin/env bash
# A signed library through the real window: installs and says it verified (over both
# protocols); a file changed on the server after signing is refused and named while the
# others install; a key that did not sign the library installs nothing and says why.
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
# Same size, other bytes (only the hash tells), and a longer file (the size tells).
printf 'FORGED' | dd of="$CHANGED/Stickrow.dll" bs=1 seek=4000 conv=notrunc 2>/dev/null
printf '\r\nEvil=1\r\n' >>"$CHANGED/PlimoSetup.ini"
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
check "PlimoSetup.ini named as a mismatch" grep -q "PlimoSetup.ini($MISMATCH_TEXT)" <<<"$LINE"
check "old Stickrow.dll kept" cmp -s "$E2E_DIR/Stickrow.dll" "$INSTALL_DIR/Stickrow.dll"
check "old PlimoSetup.ini kept" cmp -s "$E2E_DIR/PlimoSetup.ini" "$INSTALL_DIR/PlimoSetup.ini"
check "Kickoff.xls installed" same_as_server "$CHANGED" Kickoff.xls
check "Kickoff.xls Match" row_is Kickoff.xls "$STATUS_MATCH"
check "Stickrow.dll not Match" bash -c '! grep -q "^Stickrow.dll	$0" <<<"$1"' "$STATUS_MATCH" "$(row_status)"
FETCHED=$(fetched_names "$CHANGED_LOG" | sort -u | tr '\n' ' ')
check "the longer file never fetched (fetched: $FETCHED)" bash -c '! grep -q PlimoSetup.ini <<<"$0"' "$FETCHED"
LEFT=$(cd "$INSTALL_DIR" && ls -A | grep -vx -e Kickoff.xls -e Stickrow.dll -e PlimoSetup.ini -e EXCELLIBINFO.DAT)
check "no temporary file left ($LEFT)" test -z "$LEFT"
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

e2e_finish
